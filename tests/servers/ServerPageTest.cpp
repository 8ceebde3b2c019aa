#include "servers/ServerPage.h"
#include "LoopbackPeers.h"
#include "StandInClient.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/MsgBox.h"
#include "settings/SettingsFile.h"
#include "support/ModalDialogs.h"
#include "support/TempDir.h"

#include <QApplication>
#include <QCheckBox>
#include <QDropEvent>
#include <QHelpEvent>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <mutex>
#include <set>
#include <thread>

namespace {

using namespace std::chrono_literals;

struct Row {
    QString host, port, account, status;
    qulonglong number;
    int picture;
    bool operator==(const Row&) const = default;
};

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

void PrintTo(const Row& row, std::ostream* out) {
    *out << row.host.toStdString() << "|" << row.port.toStdString() << "|" << row.account.toStdString() << "|"
         << row.status.toStdString() << " #" << row.number << " picture " << row.picture;
}

class ServerPageTest : public ::testing::Test {
protected:
    void TearDown() override {
        DisarmModalGuard();
        MsgBox::ClearAnswered();
    }

    // Opens the page over `text`; with `hold`, the probe workers wait for Release() instead of starting.
    void Open(const std::string& text, bool hold = false, std::chrono::milliseconds bound = 5s) {
        settings_ = BytesFromText(text);
        ProbeSettings probe;
        probe.bound = bound;
        if (hold) {
            probe.startThread = HoldingStarter();
        }
        const std::size_t before = HeldCount();
        page_ = std::make_unique<ServerPage>(servers_, settings_, password_, nullptr, probe);
        page_->show();
        if (hold) {
            // The pass's starter thread calls back into this fixture: let it finish first.
            ASSERT_EQ(WaitHeld(before + servers_.Count()), before + servers_.Count());
        }
    }

    // A thread starter that keeps each probe worker until Release() instead of starting it.
    decltype(ProbeSettings::startThread) HoldingStarter() {
        return [this](std::function<void()> body, std::size_t) {
            std::lock_guard lock(heldMutex_);
            held_.push_back(std::move(body));
            return true;
        };
    }

    // Waits until the page's pass has handed over `count` workers; they come from a thread of the pass, which
    // the page starts once its list has been drawn.
    std::size_t WaitHeld(std::size_t count) {
        for (int wait = 0; wait < 1000 && HeldCount() < count; ++wait) {
            QTest::qWait(5);
        }
        return HeldCount();
    }
    std::size_t HeldCount() {
        std::lock_guard lock(heldMutex_);
        return held_.size();
    }

    // Runs `count` held workers to their end; their rows change once the page's events are processed.
    void Release(std::size_t count) {
        ASSERT_EQ(WaitHeld(count), count);
        std::vector<std::thread> threads;
        std::lock_guard lock(heldMutex_);
        for (std::function<void()>& body : held_) {
            threads.emplace_back(std::move(body));
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        held_.clear();
    }

    QTreeWidget* List() const { return page_->findChild<QTreeWidget*>(QStringLiteral("超级列表框1")); }
    QPushButton* Button(const char16_t* name) const { return page_->findChild<QPushButton*>(QString::fromUtf16(name)); }
    void Click(const char16_t* name) const { QTest::mouseClick(Button(name), Qt::LeftButton); }

    std::vector<Row> Rows() const {
        std::vector<Row> rows;
        for (int r = 0; r < List()->topLevelItemCount(); ++r) {
            const QTreeWidgetItem* item = List()->topLevelItem(r);
            rows.push_back({item->text(0), item->text(1), item->text(2), item->text(3),
                            servers_.NumberOf(item->data(0, ServerPage::kEntryIdRole).toULongLong()).value_or(0),
                            item->data(0, ServerPage::kStatePictureRole).toInt()});
        }
        return rows;
    }
    QString StatusOf(int row) const { return List()->topLevelItem(row)->text(3); }
    bool WaitUntil(const std::function<bool()>& done) const { return QTest::qWaitFor(done, 10000); }

    void Select(int row) const { List()->setCurrentItem(List()->topLevelItem(row)); }

    // The tooltip the status cell of `row` shows when the mouse rests on it.
    QString StatusTip(int row) const {
        const QPoint cell = List()->visualRect(List()->model()->index(row, 3)).center();
        QHelpEvent help(QEvent::ToolTip, cell, List()->viewport()->mapToGlobal(cell));
        QToolTip::hideText();
        QApplication::sendEvent(List()->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    }

    TempDir dir_{true};
    ServerList servers_;
    Bytes settings_;
    std::string password_;
    std::mutex heldMutex_;
    std::vector<std::function<void()>> held_;
    std::unique_ptr<ServerPage> page_;
};

TEST_F(ServerPageTest, RowsStartUnknownAndTurnAsTheirOwnProbesEnd) {
    ArmModalGuard();
    const Listener listener;
    const SilentPort silent;
    const ClosedPort closed;
    Open("127.0.0.1|" + listener.PortText() + "|Administrator||\r\n" + //
             "127.0.0.1|" + silent.PortText() + "|root|pw|quiet\r\n" + //
             "|" + closed.PortText() + "|x\r\n",
         false, 1500ms);

    const QString dots = QStringLiteral("...");
    EXPECT_EQ(Rows(), (std::vector<Row>{{Q("127.0.0.1"), Q(listener.PortText()), Q("Administrator"), dots, 1, 2},
                                        {Q("127.0.0.1"), Q(silent.PortText()), Q("root"), dots, 2, 2},
                                        {Q(""), Q(closed.PortText()), Q("x"), dots, 3, 2}}));

    ASSERT_TRUE(WaitUntil([&] { return StatusOf(0) != dots && StatusOf(2) != dots; }));
    EXPECT_EQ(StatusOf(1), dots) << "the silent host holds only its own row";
    EXPECT_EQ(Rows()[0].status, QStringLiteral("在线"));
    EXPECT_EQ(Rows()[0].picture, 0);
    EXPECT_EQ(Rows()[2].status, QStringLiteral("离线"));
    EXPECT_EQ(Rows()[2].picture, 1);

    ASSERT_TRUE(WaitUntil([&] { return StatusOf(1) != dots; }));
    EXPECT_EQ(Rows()[1].status, QStringLiteral("离线"));
    EXPECT_EQ(Rows()[1].picture, 1);
    EXPECT_EQ(servers_.EntryAt(1)->status, ServerStatus::Online);
    EXPECT_EQ(servers_.EntryAt(2)->status, ServerStatus::Offline);
}

TEST_F(ServerPageTest, TheProbePassWaitsUntilTheListHasBeenDrawn) {
    settings_ = BytesFromText("127.0.0.1|1|a\r\n127.0.0.1|2|b\r\n");
    ProbeSettings probe;
    probe.startThread = HoldingStarter();
    page_ = std::make_unique<ServerPage>(servers_, settings_, password_, nullptr, probe);
    // Nothing shows that a pass did not start, so one is given time to hand over its workers.
    QTest::qWait(100);
    EXPECT_EQ(HeldCount(), 0u) << "probes started before the list was on screen";
    page_->show();
    EXPECT_EQ(WaitHeld(2), 2u);
}

TEST_F(ServerPageTest, ALongListShowsItsFirstScreenBeforeItIsDrawnAndEveryRowWithItsResultAfter) {
    const ClosedPort closed;
    std::string text;
    for (int i = 1; i <= 100; ++i) {
        text += "127.0.0.1|" + closed.PortText() + "|u" + std::to_string(i) + "\r\n";
    }
    settings_ = BytesFromText(text);
    ProbeSettings probe;
    probe.startThread = HoldingStarter();
    page_ = std::make_unique<ServerPage>(servers_, settings_, password_, nullptr, probe);
    ASSERT_GT(List()->topLevelItemCount(), 0);
    ASSERT_LT(List()->topLevelItemCount(), 100) << "the whole list was made before its first paint";

    // A refill before the first paint replaces the waiting rows rather than adding to them.
    Select(1);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    Click(u"按钮_删除服务器");
    page_->show();
    Release(99);
    ASSERT_TRUE(WaitUntil([&] { return List()->topLevelItemCount() == 99 && StatusOf(98) == QStringLiteral("离线"); }));
    const std::vector<Row> rows = Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i].number, i + 1);
        EXPECT_EQ(rows[i].account, i == 0 ? QStringLiteral("u1") : QStringLiteral("u%1").arg(i + 2));
    }
    QApplication::processEvents();
    EXPECT_EQ(StatusOf(40), QStringLiteral("离线")) << "a row made after the first paint missed its result";
}

TEST_F(ServerPageTest, ResultsReachTheirEntriesAfterADeleteAndNoneArriveAfterThePageIsGone) {
    const Listener listener;
    const ClosedPort closed;
    Open("127.0.0.1|" + listener.PortText() + "|x\r\n" + "127.0.0.1|" + closed.PortText() + "|y\r\n" + "127.0.0.1|" +
             listener.PortText() + "|z\r\n",
         true);

    Select(1);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    Click(u"按钮_删除服务器");
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Rows()[0].number, 1u);
    EXPECT_EQ(Rows()[1].number, 2u);
    EXPECT_EQ(Rows()[1].account, QStringLiteral("z"));

    // The deleted entry's "离线" must not reach the entry that now has its number.
    Release(3);
    ASSERT_TRUE(WaitUntil([&] { return StatusOf(1) != QStringLiteral("..."); }));
    QApplication::processEvents();
    EXPECT_EQ(StatusOf(0), QStringLiteral("在线"));
    EXPECT_EQ(StatusOf(1), QStringLiteral("在线"));
    EXPECT_EQ(servers_.EntryAt(2)->status, ServerStatus::Online);

    // Workers that end after the page has gone still write the list and leave the page alone.
    page_.reset();
    servers_.Remove(1);
    servers_.Remove(1);
    ASSERT_EQ(servers_.Count(), 0u);
    Open("127.0.0.1|" + listener.PortText() + "|w\r\n", true);
    page_.reset();
    Release(1);
    QApplication::processEvents();
    EXPECT_EQ(servers_.EntryAt(1)->status, ServerStatus::Online);
}

TEST_F(ServerPageTest, F5ProbesEveryEntryAgainButNeverOneWhoseProbeIsStillOut) {
    ArmModalGuard();
    const Listener listener;
    const ClosedPort closed;
    Open("127.0.0.1|" + listener.PortText() + "|a\r\n127.0.0.1|" + closed.PortText() + "|b\r\n", true);
    EXPECT_TRUE(StatusTip(0).isEmpty()) << "nothing to say before the first result";

    // F5 while the first pass is still out starts nothing more; a pass would hand its workers over from a thread
    // of its own, so it is given time to.
    QTest::keyClick(List(), Qt::Key_F5);
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(HeldCount(), 2u);
    Release(2);
    ASSERT_TRUE(
        WaitUntil([&] { return StatusOf(0) == QStringLiteral("在线") && StatusOf(1) == QStringLiteral("离线"); }));
    const QString time = QStringLiteral("\\d\\d:\\d\\d:\\d\\d");
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^上次检测 %1，连接用时 [0-9.]+ ms$").arg(time))
                    .match(StatusTip(0))
                    .hasMatch())
        << StatusTip(0).toStdString();
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^上次检测 %1，自 %1 起无法连接$").arg(time)).match(StatusTip(1)).hasMatch())
        << StatusTip(1).toStdString();

    // Once it is over, F5 probes both again, their rows showing "..." until the results are in; a second F5
    // meanwhile adds no worker.
    QTest::keyClick(List(), Qt::Key_F5);
    EXPECT_EQ(Rows()[0].status, QStringLiteral("..."));
    EXPECT_EQ(Rows()[1].picture, 2);
    ASSERT_EQ(WaitHeld(2), 2u);
    QTest::keyClick(List(), Qt::Key_F5);
    std::this_thread::sleep_for(100ms); // time for a worker that must not come
    EXPECT_EQ(HeldCount(), 2u);
    Release(2);
    ASSERT_TRUE(
        WaitUntil([&] { return StatusOf(0) == QStringLiteral("在线") && StatusOf(1) == QStringLiteral("离线"); }));
    EXPECT_EQ(page_->StatusCounts(), std::make_pair(1, 1));
}

TEST_F(ServerPageTest, DroppedConnectionFilesAddTheirServersAndOneMessageSaysWhatWasSkipped) {
    Open("127.0.0.1|3389|Administrator\r\n", true);
    QSignalSpy changed(page_.get(), &ServerPage::SettingsChanged);
    WriteTestFile(dir_.File("game.rdp"), BytesFromText("full address:s:127.0.0.2:3390\r\nusername:s:root\r\n"));
    WriteTestFile(dir_.File("same.rdp"), BytesFromText("full address:s:127.0.0.1\r\nusername:s:Administrator\r\n"));
    WriteTestFile(dir_.File("notes.txt"), BytesFromText("full address:s:127.0.0.3\r\n"));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(Q(dir_.File("game.rdp"))), QUrl::fromLocalFile(Q(dir_.File("same.rdp"))),
                  QUrl::fromLocalFile(Q(dir_.File("notes.txt")))});
    const QPoint at = List()->viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(List()->viewport(), &enter);
    EXPECT_TRUE(enter.isAccepted());

    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, {});
    QApplication::sendEvent(List()->viewport(), &drop);
    ASSERT_TRUE(WaitUntil([] { return !MsgBox::Answered().empty(); }));
    EXPECT_EQ(MsgBox::Answered()[0].caption, QStringLiteral("导入服务器"));
    EXPECT_EQ(MsgBox::Answered()[0].text,
              QStringLiteral("已添加 1 台服务器。\n跳过 2 个文件：\nsame.rdp：列表中已有相同主机、端口和账号的服务器\n"
                             "notes.txt：不是 .rdp 或 .remmina 文件\n\n密码没有导入，请选中服务器后用“修改”填写。"));
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Rows()[1], (Row{Q("127.0.0.2"), Q("3390"), Q("root"), Q("..."), 2, 2}));
    EXPECT_EQ(servers_.EntryAt(2)->note, "game");
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(WaitHeld(2), 2u) << "the new entry is probed at once";
}

TEST_F(ServerPageTest, SelectingARowEnablesDeleteAndConnectAndShowsItsNote) {
    ArmModalGuard();
    Open("h1|1|a||first note\r\nh2|2|b|pw|" + Gbk::FromUtf8("第二") + "\r\n", true);
    EXPECT_FALSE(Button(u"按钮_删除服务器")->isEnabled());
    EXPECT_FALSE(Button(u"按钮_连接服务器")->isEnabled());
    EXPECT_TRUE(Button(u"按钮_设置服务器")->isEnabled());
    auto* note = page_->findChild<QPlainTextEdit*>(QStringLiteral("编辑框_备注"));

    // Tabbing into the list marks its first row without choosing it: nothing is selected yet.
    List()->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    ASSERT_TRUE(List()->selectedItems().isEmpty());
    EXPECT_FALSE(Button(u"按钮_删除服务器")->isEnabled());
    EXPECT_FALSE(Button(u"按钮_连接服务器")->isEnabled());
    EXPECT_TRUE(note->toPlainText().isEmpty());

    QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, List()->visualItemRect(List()->topLevelItem(1)).center());
    EXPECT_TRUE(Button(u"按钮_删除服务器")->isEnabled());
    EXPECT_TRUE(Button(u"按钮_连接服务器")->isEnabled());
    EXPECT_EQ(note->toPlainText(), QStringLiteral("第二"));
    EXPECT_TRUE(note->isReadOnly());
    Select(0);
    EXPECT_EQ(note->toPlainText(), QStringLiteral("first note"));

    // With a row chosen, the three ways to connect each start the client on that row's entry and ask nothing.
    TempDir home;
    const ScopedEnv tmp("TMPDIR", home.Path());
    const ScopedEnv data("XDG_DATA_HOME", home.Path());
    const ScopedEnv config("XDG_CONFIG_HOME", home.Path());
    const ScopedEnv runtime("XDG_RUNTIME_DIR", home.Path());
    StandInClient client;
    page_->findChild<QCheckBox*>(QStringLiteral("选择框_admin"))->setChecked(true);
    Select(1);
    Click(u"按钮_连接服务器");
    QTest::keyClick(List(), Qt::Key_Return);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {},
                       List()->visualItemRect(List()->topLevelItem(1)).center());
    std::set<std::string> files;
    for (int run = 0; run < 3; ++run) {
        const std::optional<StandInClient::Run> started = client.WaitForRun();
        ASSERT_TRUE(started) << run;
        ASSERT_EQ(started->arguments.size(), 5u);
        EXPECT_EQ(std::vector(started->arguments.begin() + 1, started->arguments.end()),
                  (std::vector<std::string>{"/admin", "/f", "/cert:tofu", "/from-stdin:force"}));
        EXPECT_EQ(started->input, "pw\n");
        EXPECT_NE(started->Utf8File().find("full address:s:h2:2\r\n"), std::string::npos);
        files.insert(started->arguments[0]);
    }
    EXPECT_EQ(files.size(), 3u) << "each connect writes a file of its own";
    EXPECT_TRUE(Button(u"按钮_连接服务器")->isEnabled()) << "enabled again once the client is started";
    EXPECT_TRUE(MsgBox::Answered().empty());
}

TEST_F(ServerPageTest, EditDeleteAndConnectWithoutASelectionSayWhatIsMissing) {
    Open("h1|1|a\r\nh2|2|b\r\n", true);
    // Edit is always enabled; deleting a row leaves none selected with delete and connect enabled.
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    Click(u"按钮_设置服务器");
    Select(0);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    Click(u"按钮_删除服务器");
    ASSERT_TRUE(List()->selectedItems().isEmpty());
    for (int i = 0; i < 7; ++i) {
        MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    }
    Click(u"按钮_删除服务器");
    Click(u"按钮_连接服务器");
    Click(u"按钮_设置服务器");
    QTest::keyClick(List(), Qt::Key_Return);
    QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, QPoint(5, List()->viewport()->height() - 5));

    // Only the left button double-clicks; the other buttons neither connect nor ask.
    QTest::mouseDClick(List()->viewport(), Qt::RightButton, {}, QPoint(5, List()->viewport()->height() - 5));
    QTest::mouseDClick(List()->viewport(), Qt::MiddleButton, {}, QPoint(5, List()->viewport()->height() - 5));

    ASSERT_EQ(MsgBox::Answered().size(), 7u);
    for (std::size_t box : {0u, 2u, 3u, 4u, 5u, 6u}) {
        const MsgBox::Shown& shown = MsgBox::Answered()[box];
        EXPECT_EQ(shown.text, QStringLiteral("请选择服务器列表！")) << box;
        EXPECT_EQ(shown.caption, QStringLiteral("操作错误"));
        EXPECT_EQ(shown.icon, MsgBox::Icon::Error);
        EXPECT_EQ(shown.buttons, MsgBox::Buttons::Ok);
    }
    EXPECT_EQ(servers_.Count(), 1u);
}

TEST_F(ServerPageTest, DeleteAsksFirstAndOnlyOkDeletes) {
    Open("h1|1|a\r\nh2|2|b\r\nh3|3|c\r\n", true);
    Select(1);
    MsgBox::SetNextAnswer(MsgBox::Result::Cancel);
    Click(u"按钮_删除服务器");
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_EQ(MsgBox::Answered()[0].text, QStringLiteral("确认删除该项？"));
    EXPECT_EQ(MsgBox::Answered()[0].caption, QStringLiteral("删除项目"));
    EXPECT_EQ(MsgBox::Answered()[0].buttons, MsgBox::Buttons::OkCancel);
    EXPECT_EQ(servers_.Count(), 3u);
    EXPECT_EQ(Rows().size(), 3u);

    Select(1);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    Click(u"按钮_删除服务器");
    const std::vector<Row> rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].host, QStringLiteral("h1"));
    EXPECT_EQ(rows[1].host, QStringLiteral("h3"));
    EXPECT_EQ(rows[1].number, 2u);
    EXPECT_EQ(servers_.EntryAt(2)->host, "h3");
}

TEST_F(ServerPageTest, SavedListAndOptionsComeBackAtTheNextStart) {
    ArmModalGuard();
    const std::string stored =
        "h1|1|a|p|n\r\n" + Gbk::FromUtf8("主机|３３８９|管理员||备注") + "\r\n#admin:1\r\n#Start:0\r\n";
    Open(stored, true);
    EXPECT_TRUE(page_->findChild<QCheckBox*>(QStringLiteral("选择框_admin"))->isChecked());
    EXPECT_TRUE(page_->findChild<QRadioButton*>(QStringLiteral("单选框800600"))->isChecked());
    EXPECT_EQ(page_->Options(), (ConnectionOptions{true, false}));
    EXPECT_EQ(Rows()[1].host, QStringLiteral("主机"));
    EXPECT_EQ(Rows()[1].port, QStringLiteral("３３８９"));

    servers_.Append({"new", "22", "", "", "", ServerStatus::Online});
    page_->findChild<QRadioButton*>(QStringLiteral("单选框1024768"))->setChecked(true);
    password_ = "pw";
    const SettingsContent content = page_->Content();
    ASSERT_TRUE(SaveSettings(content.servers, content.options, content.startupPassword, kSettingsFileName));
    const std::vector<ServerEntry> saved = servers_.Entries();
    page_.reset();

    const Bytes reloaded = LoadSettings();
    EXPECT_EQ(StartupPasswordOf(reloaded), "pw");
    ServerList again;
    std::string password;
    ServerPage page(again, reloaded, password, nullptr, {.startThread = [](auto, auto) { return false; }});
    ASSERT_EQ(again.Count(), saved.size());
    for (std::size_t i = 0; i < saved.size(); ++i) {
        ServerEntry expected = saved[i];
        expected.status = ServerStatus::Unknown;
        EXPECT_EQ(*again.EntryAt(i + 1), expected) << i;
    }
    EXPECT_EQ(page.Options(), (ConnectionOptions{true, true}));
}

// The editor's own checks are the dialog's; the page shows what it stored and passes on the room ms.ini has left.
class ServerEditorTest : public ServerPageTest {
protected:
    static QPlainTextEdit* NoteBox(QWidget* dialog) {
        return dialog->findChild<QPlainTextEdit*>(QStringLiteral("编辑框_备注"));
    }
    static void Confirm(QWidget* dialog) {
        QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("按钮1")), Qt::LeftButton);
    }

    // Clicks `button` of the page and hands the dialog to `action`; true when the dialog had closed after it.
    bool WithEditor(const char16_t* button, const std::function<void(QWidget*)>& action) {
        bool closed = false;
        WhenModal([&](QWidget* dialog) {
            action(dialog);
            closed = !dialog->isVisible();
            if (!closed) {
                QTest::mouseClick(dialog->findChild<QPushButton*>(QStringLiteral("按钮2")), Qt::LeftButton);
            }
        });
        Click(button);
        return closed;
    }
};

TEST_F(ServerEditorTest, AnAddedOrEditedEntryShowsInItsRowAndIsProbedAtOnce) {
    const Listener listener;
    Open("127.0.0.1|" + listener.PortText() + "|root\r\nh2|2|b\r\n", true);
    Release(2);
    ASSERT_TRUE(WaitUntil([&] { return StatusOf(0) == QStringLiteral("在线"); }));

    EXPECT_TRUE(WithEditor(u"按钮_添加服务器", Confirm));
    EXPECT_EQ(Rows().back(), (Row{Q("127.0.0.1"), Q("3389"), Q("Administrator"), Q("..."), 3, 2}));
    EXPECT_EQ(WaitHeld(1), 1u) << "the added entry is probed at once";
    Release(1);

    Select(0);
    EXPECT_TRUE(WithEditor(u"按钮_设置服务器", [](QWidget* dialog) {
        dialog->findChild<QLineEdit*>(QStringLiteral("编辑框_账号"))->setText(QStringLiteral("管理员"));
        Confirm(dialog);
    }));
    EXPECT_EQ(Rows()[0],
              (Row{Q("127.0.0.1"), Q(listener.PortText()), QStringLiteral("管理员"), QStringLiteral("在线"), 1, 0}));
    EXPECT_EQ(WaitHeld(1), 1u) << "the edited entry is probed at once";
}

TEST_F(ServerEditorTest, EveryChangeIsAnnouncedAndOneThatOutgrowsTheFileIsRefused) {
    // One entry whose note leaves room for less than another line: ms.ini would pass its read limit.
    ServerEntry huge{"h1", "1", "a", "", std::string(kReadLimit - 200, 'n'), ServerStatus::Unknown};
    servers_.Append(huge);
    Open("", true);
    QSignalSpy changed(page_.get(), &ServerPage::SettingsChanged);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    EXPECT_FALSE(WithEditor(u"按钮_添加服务器", [](QWidget* dialog) {
        NoteBox(dialog)->setPlainText(QString(300, u'x'));
        Confirm(dialog);
    }));
    EXPECT_EQ(servers_.Count(), 1u);
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("64 MB")));
    EXPECT_EQ(changed.count(), 0);

    // A small one fits, and each kind of change tells the page's owner to save.
    EXPECT_TRUE(WithEditor(u"按钮_添加服务器", Confirm));
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(WaitHeld(2), 2u);
    page_->findChild<QCheckBox*>(QStringLiteral("选择框_admin"))->setChecked(true);
    page_->findChild<QRadioButton*>(QStringLiteral("单选框800600"))->setChecked(true);
    EXPECT_EQ(changed.count(), 3);
    std::string text = SettingsText(servers_.Entries(), page_->Options(), password_);
    EXPECT_LE(text.size(), kReadLimit);
}

} // namespace
