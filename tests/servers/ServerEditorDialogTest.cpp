#include "servers/ServerEditorDialog.h"
#include "runtime/Gbk.h"
#include "runtime/MsgBox.h"
#include "support/ModalDialogs.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

QString Q(const std::string& utf8) {
    return QString::fromStdString(utf8);
}

class ServerEditorDialogTest : public ::testing::Test {
protected:
    // A box nobody answered would wait for a click: it fails the test instead.
    void SetUp() override { ArmModalGuard(); }
    void TearDown() override {
        DisarmModalGuard();
        MsgBox::ClearAnswered();
    }

    // Opens the editor over `servers_`: a new entry for number 0, else the entry of that number.
    void Open(std::size_t number, std::size_t room = SIZE_MAX) {
        dialog_ = std::make_unique<ServerEditorDialog>(servers_, number, nullptr, room);
        dialog_->show();
    }
    QLineEdit* Box(const char16_t* name) const { return dialog_->findChild<QLineEdit*>(QString::fromUtf16(name)); }
    QPlainTextEdit* NoteBox() const { return dialog_->findChild<QPlainTextEdit*>(QStringLiteral("编辑框_备注")); }
    QPushButton* Button(const char16_t* name) const {
        return dialog_->findChild<QPushButton*>(QString::fromUtf16(name));
    }
    std::vector<QString> Contents() const {
        return {Box(u"编辑框_域名")->text(), Box(u"编辑框_端口")->text(), Box(u"编辑框_账号")->text(),
                Box(u"编辑框_密码")->text(), NoteBox()->toPlainText()};
    }
    // Clicks `button`; true when the dialog closed with it.
    bool Click(const char16_t* button) const {
        QTest::mouseClick(Button(button), Qt::LeftButton);
        return !dialog_->isVisible();
    }

    ServerList servers_;
    std::unique_ptr<ServerEditorDialog> dialog_;
};

TEST_F(ServerEditorDialogTest, AddingStartsFromTheDesignedDefaultsAndAppendsAnUnknownEntry) {
    servers_.Append({"h1", "1", "a", "", "", ServerStatus::Online});
    Open(0);
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("添加服务器列表"));
    EXPECT_EQ(Button(u"按钮1")->text(), QStringLiteral("添 加 列 表\n(ADDLIST)"));
    EXPECT_EQ(Button(u"按钮2")->text(), QStringLiteral("取 消\n(Close)"));
    EXPECT_EQ(Box(u"编辑框_密码")->echoMode(), QLineEdit::Normal);
    EXPECT_EQ(Contents(), (std::vector<QString>{Q("127.0.0.1"), Q("3389"), Q("Administrator"), {}, {}}));
    EXPECT_TRUE(Click(u"按钮1"));
    EXPECT_EQ(dialog_->result(), QDialog::Accepted);
    ASSERT_EQ(servers_.Count(), 2u);
    EXPECT_EQ(*servers_.EntryAt(2), (ServerEntry{"127.0.0.1", "3389", "Administrator", "", "", ServerStatus::Unknown}));
}

TEST_F(ServerEditorDialogTest, EditingFillsTheBoxesStoresWhatIsTypedAndKeepsTheStatus) {
    servers_.Append({"127.0.0.1", "3390", "root", "pw", Gbk::FromUtf8("旧备注"), ServerStatus::Online});
    servers_.Append({"h2", "2", "b", "", "", ServerStatus::Unknown});
    Open(1);
    EXPECT_EQ(dialog_->windowTitle(), QStringLiteral("修改服务器列表"));
    EXPECT_EQ(Button(u"按钮1")->text(), QStringLiteral("修 改 列 表\n(EDIT LIST)"));
    EXPECT_EQ(Contents(),
              (std::vector<QString>{Q("127.0.0.1"), Q("3390"), Q("root"), Q("pw"), QStringLiteral("旧备注")}));
    Box(u"编辑框_域名")->setText(QStringLiteral(" 服务器 "));
    Box(u"编辑框_端口")->setText(QStringLiteral("３３８９x"));
    Box(u"编辑框_密码")->clear();
    NoteBox()->setPlainText(QStringLiteral("新备注 #onsole: >"));
    EXPECT_TRUE(Click(u"按钮1"));
    EXPECT_EQ(*servers_.EntryAt(1), (ServerEntry{Gbk::FromUtf8(" 服务器 "), Gbk::FromUtf8("３３８９x"), "root", "",
                                                 Gbk::FromUtf8("新备注 #onsole: >"), ServerStatus::Online}));
    EXPECT_EQ(servers_.EntryAt(2)->host, "h2");
}

TEST_F(ServerEditorDialogTest, CancelChangesNothing) {
    servers_.Append({"h1", "1", "a", "p", "n", ServerStatus::Unknown});
    for (const std::size_t number : {0u, 1u}) {
        Open(number);
        Box(u"编辑框_域名")->setText(QStringLiteral("other"));
        EXPECT_TRUE(Click(u"按钮2"));
        EXPECT_EQ(dialog_->result(), QDialog::Rejected);
    }
    EXPECT_EQ(servers_.Entries(), (std::vector<ServerEntry>{{"h1", "1", "a", "p", "n", ServerStatus::Unknown}}));
    EXPECT_TRUE(MsgBox::Answered().empty());
}

TEST_F(ServerEditorDialogTest, ValuesTheFileCannotCarryAreRefusedNamingTheBox) {
    struct Case {
        const char16_t* box;
        QString value;
        QString message;
    };
    const QString separator = QStringLiteral("中不能含有“|”或换行，请修改后再保存。");
    const QString marker = QStringLiteral("中不能含有“#admin:”、“#Start:”或“#LoadinPass:<”，请修改后再保存。");
    const QString unstorable = QStringLiteral("中有无法保存的字符，请换用其他字符。");
    const std::vector<Case> cases{
        {u"编辑框_域名", QStringLiteral("a|b"), QStringLiteral("“IP/域名”") + separator},
        {u"编辑框_端口", QStringLiteral("33\r89"), QStringLiteral("“端口”") + separator},
        {u"编辑框_备注", QStringLiteral("line one\nline two"), QStringLiteral("“备注”") + separator},
        {u"编辑框_账号", QStringLiteral("x#admin:1"), QStringLiteral("“登陆账号”") + marker},
        {u"编辑框_密码", QStringLiteral("#Start:0"), QStringLiteral("“登陆密码”") + marker},
        {u"编辑框_备注", QStringLiteral("#LoadinPass:<x>"), QStringLiteral("“备注”") + marker},
        {u"编辑框_密码", QStringLiteral("pass€"), QStringLiteral("“登陆密码”") + unstorable},
        {u"编辑框_备注", QStringLiteral("smile 😀"), QStringLiteral("“备注”") + unstorable},
    };
    for (const Case& refused : cases) {
        MsgBox::ClearAnswered();
        MsgBox::SetNextAnswer(MsgBox::Result::Ok);
        Open(0);
        if (refused.box == std::u16string_view(u"编辑框_备注")) {
            NoteBox()->setPlainText(refused.value);
        } else {
            Box(refused.box)->setText(refused.value);
        }
        EXPECT_FALSE(Click(u"按钮1")) << refused.value.toStdString();
        ASSERT_EQ(MsgBox::Answered().size(), 1u);
        EXPECT_EQ(MsgBox::Answered()[0].text, refused.message);
        EXPECT_EQ(MsgBox::Answered()[0].caption, QStringLiteral("输入出错"));
        EXPECT_EQ(MsgBox::Answered()[0].icon, MsgBox::Icon::Error);
    }
    EXPECT_EQ(servers_.Count(), 0u);
}

TEST_F(ServerEditorDialogTest, TheConfirmCaptionFitsItsButtonInBothModes) {
    servers_.Append({"h1", "1", "a", "", "", ServerStatus::Unknown});
    for (const std::size_t number : {0u, 1u}) {
        Open(number);
        QPushButton* confirm = Button(u"按钮1");
        EXPECT_EQ(confirm->geometry(), QRect(16, 252, 100, 36));
        EXPECT_LE(confirm->sizeHint().width(), confirm->width()) << confirm->text().toStdString();
        EXPECT_LE(confirm->fontMetrics().boundingRect(QRect(), 0, confirm->text()).height(), confirm->height());
    }
}

// An edit may use the room its own old line leaves; anything more would make ms.ini too long to read back.
TEST_F(ServerEditorDialogTest, AChangeLargerThanTheRoomLeftIsRefused) {
    servers_.Append({"h1", "1", "a", "", std::string(100, 'n'), ServerStatus::Unknown});
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    Open(0, 50);
    NoteBox()->setPlainText(QString(60, u'x'));
    EXPECT_FALSE(Click(u"按钮1"));
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("64 MB")));

    Open(1, 50);
    NoteBox()->setPlainText(QString(140, u'x'));
    EXPECT_TRUE(Click(u"按钮1")) << "the old line's 100 bytes are freed by the edit";
    EXPECT_EQ(servers_.EntryAt(1)->note, std::string(140, 'x'));
    EXPECT_EQ(servers_.Count(), 1u);
}

// The note box is one line of ms.ini: Tab leaves it and Return confirms, as in every other box of the dialog.
TEST_F(ServerEditorDialogTest, TabLeavesTheNoteBoxAndReturnConfirms) {
    for (const Qt::Key confirmKey : {Qt::Key_Return, Qt::Key_Enter}) {
        Open(0);
        dialog_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(dialog_.get()));
        QPlainTextEdit* note = NoteBox();
        note->setFocus();
        note->setPlainText(QStringLiteral("机房"));
        note->moveCursor(QTextCursor::End);
        QTest::keyClicks(note, QStringLiteral(" A"));
        QTest::keyClick(note, Qt::Key_Tab);
        EXPECT_EQ(note->toPlainText(), QStringLiteral("机房 A"));
        EXPECT_EQ(QApplication::focusWidget(), Button(u"按钮1"));

        note->setFocus();
        QTest::keyClick(note, Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), Box(u"编辑框_密码"));

        note->setFocus();
        QTest::keyClick(note, confirmKey, confirmKey == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(dialog_->result(), QDialog::Accepted);
        const std::size_t added = servers_.Count();
        ASSERT_EQ(added, confirmKey == Qt::Key_Return ? 1u : 2u);
        EXPECT_EQ(servers_.EntryAt(added)->note, Gbk::FromUtf8("机房 A"));
        EXPECT_TRUE(MsgBox::Answered().empty());
    }
}

} // namespace
