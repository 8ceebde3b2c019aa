#include "bookmarks/BookmarkList.h"
#include "bookmarks/BookmarkStore.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "bookmarks/recorddb/RecordDb.h"
#include "recorddb/TableImage.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/GbkQt.h"
#include "runtime/MsgBox.h"
#include "runtime/WatchedFile.h"
#include "support/ModalDialogs.h"
#include "support/TempDir.h"
#include "ui/MainWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTreeWidget>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

using Rows = std::vector<std::pair<QString, QString>>;

const QString kNamePrompt = QStringLiteral("请输入名称……");
const QString kAddressPrompt = QStringLiteral("请输入地址/URL连接……");

// One shown main window whose bookmark list has been loaded.
class Page {
public:
    Page() {
        QSignalSpy loaded(window_.findChild<BookmarkList*>(), &BookmarkList::Loaded);
        window_.show();
        EXPECT_TRUE(loaded.wait(10000));
        window_.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"))->setCurrentIndex(2);
    }

    QTreeWidget* List() { return window_.findChild<QTreeWidget*>(QStringLiteral("超级列表框1")); }
    QLineEdit* NameBox() { return window_.findChild<QLineEdit*>(QStringLiteral("编辑框1")); }
    QLineEdit* AddressBox() { return window_.findChild<QLineEdit*>(QStringLiteral("编辑框4")); }

    Rows Shown() {
        Rows rows;
        for (int i = 0; i < List()->topLevelItemCount(); ++i) {
            rows.emplace_back(List()->topLevelItem(i)->text(0), List()->topLevelItem(i)->text(1));
        }
        return rows;
    }

    void Add(const QString& name, const QString& address) {
        NameBox()->setText(name);
        AddressBox()->setText(address);
        QTest::mouseClick(window_.findChild<QPushButton*>(QStringLiteral("按钮1")), Qt::LeftButton);
    }
    QPoint RowCentre(int row) { return List()->visualItemRect(List()->topLevelItem(row)).center(); }
    void Select(int row) { QTest::mouseClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row)); }
    void RightClick(QPoint at = {5, 5}) {
        QContextMenuEvent event(QContextMenuEvent::Mouse, at, List()->viewport()->mapToGlobal(at));
        QApplication::sendEvent(List()->viewport(), &event);
    }
    void DoubleClick(int row) {
        Select(row);
        QTest::mouseDClick(List()->viewport(), Qt::LeftButton, {}, RowCentre(row));
    }

    MainWindow window_;
};

class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        count += event->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(watched, event);
    }
};

// The bookmarks as the file holds them, shown as the list would show them.
Rows Stored() {
    Rows rows;
    for (const Bookmark& bookmark : BookmarkStore().ReadAll()) {
        rows.emplace_back(Gbk::ToQString(bookmark.name), Gbk::ToQString(bookmark.address));
    }
    return rows;
}

void PutBookmarks(int count) {
    TableImage table = BookmarkTable();
    WriteTestFile("websc.edb", table.Build());
    for (int i = 0; i < count; ++i) {
        ASSERT_TRUE(BookmarkStore().Add({"n" + std::to_string(i), "a" + std::to_string(i)}));
    }
}

QString Numbered(const char* prefix, int i) {
    return QString::fromLatin1(prefix) + QString::number(i);
}

class BookmarkListTest : public ::testing::Test {
protected:
    void SetUp() override { ArmModalGuard(); }
    void TearDown() override {
        DisarmModalGuard();
        MsgBox::ClearAnswered();
        RecordDb::CloseAll();
    }

    TempDir dir_{true};
};

TEST_F(BookmarkListTest, FirstStartWritesTheDefaultFileAfterTheWindowIsDrawnAndListsItsRow) {
    MainWindow window;
    PaintCounter paints;
    window.installEventFilter(&paints);
    int paintsBeforeLoad = 0;
    QObject::connect(window.findChild<BookmarkList*>(), &BookmarkList::Loaded, &window,
                     [&] { paintsBeforeLoad = paints.count; });
    QSignalSpy loaded(window.findChild<BookmarkList*>(), &BookmarkList::Loaded);
    window.show();
    EXPECT_FALSE(std::filesystem::exists("websc.edb"));
    ASSERT_TRUE(loaded.wait(10000));
    EXPECT_GT(paintsBeforeLoad, 0) << "a large file must not hold back the first paint";
    EXPECT_EQ(ReadWholeFile("websc.edb"), DefaultBookmarkImage());
    EXPECT_EQ(std::filesystem::directory_iterator(".")->path().filename(), "websc.edb") << "no scratch file left";
    auto* list = window.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
    ASSERT_EQ(list->topLevelItemCount(), 1);
    EXPECT_EQ(list->topLevelItem(0)->text(1), QStringLiteral("https://www.baidu.com/"));

    // The header is drawn in the list's own font, not the program's smaller default.
    EXPECT_EQ(list->font().pointSize(), 12);
    EXPECT_EQ(list->header()->font(), list->font());
}

TEST_F(BookmarkListTest, AddStoresTheBoxesAsTheyStandAndLaterStartsListEveryRecordInOrder) {
    PutBookmarks(2);
    Rows expected;
    {
        Page page;
        QTest::mouseClick(page.window_.findChild<QPushButton*>(QStringLiteral("按钮1")), Qt::LeftButton);
        page.Add(QString(), QString());
        page.Add(QStringLiteral("本地"), QStringLiteral("http://127.0.0.1/"));
        expected = {{QStringLiteral("n0"), QStringLiteral("a0")},
                    {QStringLiteral("n1"), QStringLiteral("a1")},
                    {kNamePrompt, kAddressPrompt},
                    {QString(), QString()},
                    {QStringLiteral("本地"), QStringLiteral("http://127.0.0.1/")}};
        EXPECT_EQ(page.Shown(), expected);
        EXPECT_EQ(page.NameBox()->text(), QStringLiteral("本地")) << "the boxes keep their content";
        EXPECT_EQ(Stored(), expected);
    }
    Page again;
    EXPECT_EQ(again.Shown(), expected);
    EXPECT_TRUE(MsgBox::Answered().empty());
}

TEST_F(BookmarkListTest, LongNameIsStoredCutAndShownCutAfterARestart) {
    PutBookmarks(0);
    // 251 two-byte characters: the first 500 bytes hold 250 of them.
    const QString longName(251, QChar(0x540D));
    {
        Page page;
        page.Add(longName, QStringLiteral("x"));
        EXPECT_EQ(page.Shown().back().first, longName);
    }
    Page again;
    EXPECT_EQ(again.Shown(), (Rows{{longName.left(250), QStringLiteral("x")}}));
}

TEST_F(BookmarkListTest, DeletingRowKOfNRemovesRecordKAndKeepsRowsAndRecordsAligned) {
    PutBookmarks(5);
    Page page;
    page.Select(2);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.RightClick(page.RowCentre(2));

    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    const MsgBox::Shown& box = MsgBox::Answered()[0];
    EXPECT_EQ(box.text, QStringLiteral("你是否确定删除此条数据？"));
    EXPECT_EQ(box.caption, QStringLiteral("信息："));
    EXPECT_EQ(box.buttons, MsgBox::Buttons::OkCancel);
    EXPECT_EQ(box.icon, MsgBox::Icon::Warning);

    Rows expected;
    for (int i : {0, 1, 3, 4}) {
        expected.emplace_back(Numbered("n", i), Numbered("a", i));
    }
    EXPECT_EQ(page.Shown(), expected);
    EXPECT_EQ(Stored(), expected);
    EXPECT_EQ(ReadWholeFile("websc.edb").size(), 260u + 4 * 1016) << "packed at once";

    // The rows after it moved up and still name their records.
    page.Select(3);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.RightClick(page.RowCentre(3));
    expected.pop_back();
    EXPECT_EQ(page.Shown(), expected);
    EXPECT_EQ(Stored(), expected);
}

TEST_F(BookmarkListTest, NoSelectionOrCancelChangesNeitherFileNorList) {
    PutBookmarks(3);
    Page page;
    const Bytes before = ReadWholeFile("websc.edb");
    const Rows rows = page.Shown();

    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.RightClick();
    page.Select(1);
    MsgBox::SetNextAnswer(MsgBox::Result::Cancel);
    page.RightClick(page.RowCentre(1));

    EXPECT_EQ(MsgBox::Answered().size(), 2u);
    EXPECT_EQ(page.Shown(), rows);
    EXPECT_EQ(ReadWholeFile("websc.edb"), before);
}

TEST_F(BookmarkListTest, DeletingTheOnlyBookmarkLeavesTheBareTable) {
    Page page;
    page.Select(0);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.RightClick(page.RowCentre(0));
    EXPECT_TRUE(page.Shown().empty());
    const Bytes file = ReadWholeFile("websc.edb");
    EXPECT_EQ(file.size(), 260u);
    EXPECT_EQ(ReadI32(file, 16), 0);
}

TEST_F(BookmarkListTest, FileThatIsNotADatabaseListsNothingAndIsLeftAlone) {
    WriteTestFile("websc.edb", BytesFromText("<html>bookmarks</html>"));
    Page page;
    EXPECT_TRUE(page.Shown().empty());
    EXPECT_EQ(TextFromBytes(ReadWholeFile("websc.edb")), "<html>bookmarks</html>");
}

// In a death test's child: starts a main window in the parent's directory and prints the box the program ends
// with.
void StartInTestDirectory() {
    // The fatal error ends this child without cleaning up, so its own fresh directory goes now.
    std::error_code ignored;
    std::filesystem::remove_all(std::filesystem::current_path(), ignored);
    if (::chdir(std::getenv("TOLVAR_TEST_DIR")) != 0) {
        std::_Exit(3);
    }
    DisarmModalGuard();
    WhenModal([](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) {
            std::_Exit(4);
        }
        const QString text = box->text().replace(QLatin1Char('\n'), QLatin1Char('/'));
        std::fprintf(stderr, "[%s %s %s]\n", qPrintable(box->windowTitle()),
                     box->icon() == QMessageBox::Critical ? "critical" : "other", qPrintable(text));
        box->button(QMessageBox::Ok)->click();
    });
    MainWindow window;
    window.show();
    // The fatal error ends the process from inside this wait; staying past it is the failure.
    QTest::qWait(30000);
    std::_Exit(5);
}

TEST_F(BookmarkListTest, ForeignTablesWithRecordsEndTheProgramWithTheFatalErrorBox) {
    // The death tests' children run this body afresh; they must keep the parent's directory.
    ::setenv("TOLVAR_TEST_DIR", dir_.Path().c_str(), 0);
    TableImage missing = BookmarkTable();
    missing.fields[0].name = "name";
    missing.AddRecord(1);
    WriteTestFile("websc.edb", missing.Build());
    EXPECT_EXIT(StartInTestDirectory(), ::testing::ExitedWithCode(255),
                "\\[错误 critical 运行时出错!//错误信息：指定字段不存在/\\]");

    TableImage numbers = BookmarkTable();
    numbers.fields[1].type = 3;
    numbers.AddRecord(1);
    WriteTestFile("websc.edb", numbers.Build());
    EXPECT_EXIT(StartInTestDirectory(), ::testing::ExitedWithCode(255),
                "\\[错误 critical 运行时出错!//错误代码：5//错误信息：数据或数组类型不匹配/\\]");
    ::unsetenv("TOLVAR_TEST_DIR");

    // Without records the fields are never read.
    TableImage empty = BookmarkTable();
    empty.fields[1].type = 3;
    WriteTestFile("websc.edb", empty.Build());
    Page page;
    EXPECT_TRUE(page.Shown().empty());
}

TEST_F(BookmarkListTest, AddThatCannotBeStoredShowsNoRowAndSaysSo) {
    Page page;
    const Rows rows = page.Shown();

    // A character the file's encoding cannot hold.
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.Add(QStringLiteral("笑脸😀"), QStringLiteral("http://127.0.0.1/"));
    // The file went away after the list was filled; adding does not create it.
    std::filesystem::remove("websc.edb");
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.Add(QStringLiteral("n"), QStringLiteral("a"));

    EXPECT_EQ(page.Shown(), rows);
    EXPECT_FALSE(std::filesystem::exists("websc.edb"));
    ASSERT_EQ(MsgBox::Answered().size(), 2u);
    EXPECT_EQ(MsgBox::Answered()[0].text, QStringLiteral("名称或网址中有无法保存的字符，未加入收藏。"));
    EXPECT_EQ(MsgBox::Answered()[1].text, QStringLiteral("收藏文件无法写入，未加入收藏。"));
}

TEST_F(BookmarkListTest, DeleteThatCannotChangeTheFileKeepsTheRow) {
    Page page;
    std::filesystem::remove("websc.edb");
    page.Select(0);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.RightClick(page.RowCentre(0));
    EXPECT_EQ(page.Shown().size(), 1u);
    ASSERT_EQ(MsgBox::Answered().size(), 2u);
    EXPECT_EQ(MsgBox::Answered()[1].text, QStringLiteral("收藏文件无法修改，未删除此条数据。"));
}

TEST_F(BookmarkListTest, DeleteAfterAnotherInstanceChangedTheFileDeletesNothingAndReloads) {
    PutBookmarks(3);
    Page page;
    // Another instance deletes the first bookmark: row 1 ("n1") now stands where record 1 is "n2".
    ASSERT_EQ(BookmarkStore().Delete(0, {"n0", "a0"}), BookmarkStore::DeleteResult::Deleted);
    page.Select(1);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    page.RightClick(page.RowCentre(1));

    const Rows left{{QStringLiteral("n1"), QStringLiteral("a1")}, {QStringLiteral("n2"), QStringLiteral("a2")}};
    EXPECT_EQ(Stored(), left);
    EXPECT_EQ(page.Shown(), left);
    ASSERT_EQ(MsgBox::Answered().size(), 2u);
    EXPECT_EQ(MsgBox::Answered()[1].text, QStringLiteral("收藏文件已被其他程序修改，未删除任何数据，列表已重新载入。"));
}

TEST_F(BookmarkListTest, AnotherWindowsAddsAndDeletesAppearWithoutAClick) {
    // Only the two-second look at the file, as on a share that sends no notices.
    WatchedFile::SetNoticesEnabled(false);
    PutBookmarks(2);
    Page first;
    Page second;
    second.Select(1);
    first.Add(QStringLiteral("新的"), QStringLiteral("http://127.0.0.1/"));
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.Shown().size() == 3; }, 5000));
    EXPECT_EQ(second.Shown().back().first, QStringLiteral("新的"));
    EXPECT_EQ(second.List()->currentItem()->text(0), QStringLiteral("n1"));

    first.Select(0);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    first.RightClick(first.RowCentre(0));
    EXPECT_TRUE(QTest::qWaitFor([&] { return second.Shown().size() == 2; }, 5000));
    EXPECT_EQ(second.Shown().front().first, QStringLiteral("n1"));
    WatchedFile::SetNoticesEnabled(true);
}

// Puts a stand-in xdg-open first on PATH that writes its argument count and arguments to `opened`.
class StandInOpener {
public:
    explicit StandInOpener(const TempDir& dir)
        : bin_(dir.File("bin"))
        , opened_(dir.File("opened"))
        , path_(std::getenv("PATH")) {
        std::filesystem::create_directory(bin_);
        std::ofstream script(bin_ + "/xdg-open");
        script << "#!/bin/sh\n"
               << "{ printf '%s\\n' \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" << opened_
               << ".part' && mv '" << opened_ << ".part' '" << opened_ << "'\n";
        script.close();
        ::chmod((bin_ + "/xdg-open").c_str(), 0755);
        ::setenv("PATH", (bin_ + ":" + path_).c_str(), 1);
    }
    ~StandInOpener() { ::setenv("PATH", path_.c_str(), 1); }
    StandInOpener(const StandInOpener&) = delete;
    StandInOpener& operator=(const StandInOpener&) = delete;

    // The lines the stand-in wrote (count first), once it has run.
    std::vector<std::string> NextCall() {
        if (!QTest::qWaitFor([&] { return std::filesystem::exists(opened_); }, 10000)) {
            return {};
        }
        std::ifstream in(opened_);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        std::filesystem::remove(opened_);
        return lines;
    }

private:
    std::string bin_;
    std::string opened_;
    std::string path_;
};

TEST_F(BookmarkListTest, DoubleClickHandsTheAddressToTheOpenerAsItsOneOperand) {
    PutBookmarks(0);
    ASSERT_TRUE(BookmarkStore().Add({"web", "http://127.0.0.1/a b;$(true)"}));
    ASSERT_TRUE(BookmarkStore().Add({"opt", Gbk::FromUtf8("--help 文件")}));
    StandInOpener opener(dir_);
    Page page;

    page.DoubleClick(0);
    EXPECT_EQ(opener.NextCall(), (std::vector<std::string>{"1", "http://127.0.0.1/a b;$(true)"}));
    // Taken by the opener for an option, "--help" would show its usage instead of opening the file.
    page.DoubleClick(1);
    EXPECT_EQ(opener.NextCall(), (std::vector<std::string>{"1", "./--help 文件"}));

    // A row just added opens the address it shows, though the file keeps only its first 512 bytes.
    const std::string longAddress = "http://127.0.0.1/" + std::string(600, 'q');
    page.Add(QStringLiteral("long"), QString::fromStdString(longAddress));
    page.DoubleClick(2);
    EXPECT_EQ(opener.NextCall(), (std::vector<std::string>{"1", longAddress}));
}

TEST_F(BookmarkListTest, AnAddressCutInsideACharacterOpensWithoutHalfOfIt) {
    PutBookmarks(0);
    // 17 + 600 bytes: byte 511 starts a character, so a cut at 512 bytes would keep half of it.
    const QString typed = QStringLiteral("http://127.0.0.1/") + QString(300, QChar(0x7F51));
    const std::string address = *Gbk::FromQString(typed);
    // As a file written before holds it: cut at 512 bytes, inside that character.
    ASSERT_TRUE(RecordDb::Open("websc.edb"));
    ASSERT_TRUE(RecordDb::AppendBlank());
    ASSERT_TRUE(RecordDb::WriteField(Gbk::FromUtf8("网址"), address));
    RecordDb::CloseAll();
    {
        Page page;
        page.Add(QStringLiteral("new"), typed);
    }
    ASSERT_EQ(BookmarkStore().ReadAll().size(), 2u);
    EXPECT_EQ(BookmarkStore().ReadAll()[1].address, address.substr(0, 511));

    StandInOpener opener(dir_);
    Page page;
    const QString whole = typed.left(17 + 247);
    for (int row = 0; row < 2; ++row) {
        EXPECT_EQ(page.Shown()[row].second, whole) << row;
        page.DoubleClick(row);
        EXPECT_EQ(opener.NextCall(), (std::vector<std::string>{"1", whole.toStdString()})) << row;
    }
}

// Runs this test program's hidden instance test in a child process adding bookmarks tagged `tag` in `dir`.
pid_t StartInstance(const std::string& dir, const std::string& tag) {
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        environment.emplace_back(*entry);
    }
    environment.push_back("TOLVAR_TEST_DIR=" + dir);
    environment.push_back("TOLVAR_TEST_TAG=" + tag);
    std::vector<char*> envp;
    for (std::string& entry : environment) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);
    std::string program = "/proc/self/exe";
    std::string filter = "--gtest_filter=BookmarkInstance.DISABLED_AddsFromOneInstance";
    std::string disabled = "--gtest_also_run_disabled_tests";
    char* argv[] = {program.data(), filter.data(), disabled.data(), nullptr};
    pid_t pid = -1;
    EXPECT_EQ(::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, envp.data()), 0);
    return pid;
}

// The child's exit code; -1 when it ended otherwise or was still running after a minute and was killed.
int Finish(pid_t pid) {
    int status = 0;
    if (!QTest::qWaitFor([&] { return ::waitpid(pid, &status, WNOHANG) == pid; }, 60000)) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

constexpr int kAddsPerInstance = 30;

TEST(BookmarkInstance, DISABLED_AddsFromOneInstance) {
    const char* dir = std::getenv("TOLVAR_TEST_DIR");
    const char* tag = std::getenv("TOLVAR_TEST_TAG");
    ASSERT_TRUE(dir != nullptr && tag != nullptr);
    ASSERT_EQ(::chdir(dir), 0);
    ArmModalGuard();
    Page page;
    for (int i = 0; i < kAddsPerInstance; ++i) {
        page.Add(QString::fromLatin1(tag) + QString::number(i), QStringLiteral("http://127.0.0.1/"));
    }
    DisarmModalGuard();
    // The list holds what the file had when it was loaded, then this instance's own adds in order.
    const Rows shown = page.Shown();
    ASSERT_GE(shown.size(), 1u + kAddsPerInstance);
    for (int i = 0; i < kAddsPerInstance; ++i) {
        EXPECT_EQ(shown[shown.size() - kAddsPerInstance + i].first, QString::fromLatin1(tag) + QString::number(i));
    }
    EXPECT_TRUE(MsgBox::Answered().empty());
}

TEST_F(BookmarkListTest, TwoInstancesSharingOneFileKeepEachOthersAdds) {
    // Both start without a file, so they also race to create it.
    const pid_t first = StartInstance(dir_.Path(), "a");
    const pid_t second = StartInstance(dir_.Path(), "b");
    EXPECT_EQ(Finish(first), 0);
    EXPECT_EQ(Finish(second), 0);

    std::set<QString> names;
    for (const auto& [name, address] : Stored()) {
        names.insert(name);
    }
    EXPECT_EQ(names.size(), 1u + 2 * kAddsPerInstance);
    for (int i = 0; i < kAddsPerInstance; ++i) {
        EXPECT_EQ(names.count(Numbered("a", i)), 1u) << i;
        EXPECT_EQ(names.count(Numbered("b", i)), 1u) << i;
    }
}

} // namespace
