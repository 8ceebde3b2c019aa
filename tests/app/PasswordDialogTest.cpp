#include "app/AppState.h"
#include "app/StartUp.h"
#include "runtime/MsgBox.h"
#include "servers/ServerPage.h"
#include "settings/SettingsFile.h"
#include "support/ModalDialogs.h"
#include "support/TempDir.h"
#include "ui/HelpNotice.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

class PasswordDialogTest : public ::testing::Test {
protected:
    void TearDown() override {
        DisarmModalGuard();
        MsgBox::ClearAnswered();
    }

    static QLineEdit* Box(QWidget* dialog, const char16_t* name) {
        return dialog->findChild<QLineEdit*>(QString::fromUtf16(name));
    }
    static void Click(QWidget* window, const char16_t* name) {
        QTest::mouseClick(window->findChild<QPushButton*>(QString::fromUtf16(name)), Qt::LeftButton);
    }

    // Starts the program, answering the authentication dialog with `password` when one is stored.
    std::unique_ptr<MainWindow> Start(AppState& state, const QString& password = {}) {
        if (password.isEmpty()) {
            ArmModalGuard();
        } else {
            WhenModal([password](QWidget* dialog) {
                Box(dialog, u"编辑框1")->setText(password);
                Click(dialog, u"按钮1");
            });
        }
        std::unique_ptr<MainWindow> window = StartUp(state);
        DisarmModalGuard();
        return window;
    }

    // Clicks "启动密码" and hands the password dialog to `action`; true when the dialog was gone afterwards.
    bool WithPasswordDialog(MainWindow& window, const std::function<void(QWidget*)>& action) {
        bool closed = false;
        WhenModal([&](QWidget* dialog) {
            EXPECT_EQ(dialog->windowTitle(), QStringLiteral("启动密码设置(Set LoginPass)"));
            action(dialog);
            closed = !dialog->isVisible();
            if (!closed) {
                Click(dialog, u"按钮2");
            }
        });
        Click(&window, u"按钮_启动密码");
        return closed;
    }

    TempDir dir_{true};
};

TEST_F(PasswordDialogTest, SetThenClearReachTheNextStart) {
    {
        AppState state;
        auto window = Start(state);
        EXPECT_TRUE(WithPasswordDialog(*window, [](QWidget* dialog) {
            Box(dialog, u"编辑框1")->setText(QStringLiteral("abc"));
            Box(dialog, u"编辑框2")->setText(QStringLiteral("abd"));
            MsgBox::SetNextAnswer(MsgBox::Result::Ok);
            Click(dialog, u"按钮1");
            // Mismatch: refused with both contents kept.
            EXPECT_TRUE(dialog->isVisible());
            EXPECT_EQ(Box(dialog, u"编辑框1")->text(), QStringLiteral("abc"));
            EXPECT_EQ(Box(dialog, u"编辑框2")->text(), QStringLiteral("abd"));
            Box(dialog, u"编辑框2")->setText(QStringLiteral("abc"));
            Click(dialog, u"按钮1");
        }));
        ASSERT_EQ(MsgBox::Answered().size(), 1u);
        EXPECT_EQ(MsgBox::Answered()[0].text, QStringLiteral("两次密码必须相同"));
        EXPECT_EQ(MsgBox::Answered()[0].caption, QStringLiteral("输入出错"));
        EXPECT_EQ(state.startupPassword, "abc");
        window->close();
    }
    MsgBox::ClearAnswered();
    {
        AppState state;
        auto window = Start(state, QStringLiteral("abc"));
        ASSERT_TRUE(state.unlocked);
        EXPECT_TRUE(WithPasswordDialog(*window, [](QWidget* dialog) {
            MsgBox::SetNextAnswer(MsgBox::Result::No);
            Click(dialog, u"按钮1");
            EXPECT_TRUE(dialog->isVisible());
            MsgBox::SetNextAnswer(MsgBox::Result::Yes);
            Click(dialog, u"按钮1");
        }));
        ASSERT_EQ(MsgBox::Answered().size(), 2u);
        EXPECT_EQ(MsgBox::Answered()[0].text, QStringLiteral("您确定要清空密码吗？"));
        EXPECT_EQ(MsgBox::Answered()[0].caption, QStringLiteral("提示"));
        EXPECT_EQ(MsgBox::Answered()[0].buttons, MsgBox::Buttons::YesNo);
        EXPECT_EQ(MsgBox::Answered()[0].icon, MsgBox::Icon::Information);
        EXPECT_TRUE(state.startupPassword.empty());
        window->close();
    }
    AppState state;
    auto window = Start(state); // the guard fails the test if a dialog comes
    EXPECT_TRUE(state.unlocked);
}

TEST_F(PasswordDialogTest, CancelAndUnstorablePasswordsChangeNothing) {
    AppState state;
    auto window = Start(state);
    state.startupPassword = "old";
    for (const QString& refused :
         {QStringLiteral("a>b"), QStringLiteral("a|b|c"), QStringLiteral("#Start:0"), QStringLiteral("\U0001F600")}) {
        MsgBox::ClearAnswered();
        EXPECT_FALSE(WithPasswordDialog(*window, [&](QWidget* dialog) {
            Box(dialog, u"编辑框1")->setText(refused);
            Box(dialog, u"编辑框2")->setText(refused);
            MsgBox::SetNextAnswer(MsgBox::Result::Ok);
            Click(dialog, u"按钮1");
        }));
        ASSERT_EQ(MsgBox::Answered().size(), 1u) << refused.toStdString();
        EXPECT_EQ(MsgBox::Answered()[0].caption, QStringLiteral("输入出错"));
        EXPECT_EQ(state.startupPassword, "old");
    }
    // Sixteen characters fit, the boxes take no more.
    EXPECT_TRUE(WithPasswordDialog(*window, [](QWidget* dialog) {
        QTest::keyClicks(Box(dialog, u"编辑框1"), QStringLiteral("0123456789abcdefXYZ"));
        QTest::keyClicks(Box(dialog, u"编辑框2"), QStringLiteral("0123456789abcdef"));
        Click(dialog, u"按钮1");
    }));
    EXPECT_EQ(state.startupPassword, "0123456789abcdef");
}

TEST_F(PasswordDialogTest, HelpButtonShowsTheNoticeUnderTheDefaultCaption) {
    AppState state;
    auto window = Start(state);
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    Click(window->findChild<ServerPage*>(), u"按钮1");
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    const MsgBox::Shown& box = MsgBox::Answered()[0];
    EXPECT_TRUE(box.text.startsWith(QStringLiteral("注意：\n1.本软件仅供研究之用，请勿用于非法用途！\n")));
    EXPECT_EQ(box.text, HelpNoticeText());
    EXPECT_EQ(box.caption, QStringLiteral("信息："));
    EXPECT_EQ(box.icon, MsgBox::Icon::None);
    EXPECT_EQ(box.buttons, MsgBox::Buttons::Ok);
}

} // namespace
