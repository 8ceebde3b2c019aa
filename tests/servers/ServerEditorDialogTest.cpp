#include "servers/ServerEditorDialog.h"
#include "runtime/Gbk.h"
#include "runtime/MsgBox.h"

#include <QApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

namespace {

// The note box is one line of ms.ini: Tab leaves it and Return confirms, as in every other box of the dialog.
TEST(ServerEditorDialogTest, TabLeavesTheNoteBoxAndReturnConfirms) {
    for (const Qt::Key confirmKey : {Qt::Key_Return, Qt::Key_Enter}) {
        ServerList servers;
        ServerEditorDialog dialog(servers, 0);
        dialog.show();
        dialog.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
        auto* note = dialog.findChild<QPlainTextEdit*>(QStringLiteral("编辑框_备注"));
        note->setFocus();
        note->setPlainText(QStringLiteral("机房"));
        note->moveCursor(QTextCursor::End);
        QTest::keyClicks(note, QStringLiteral(" A"));
        QTest::keyClick(note, Qt::Key_Tab);
        EXPECT_EQ(note->toPlainText(), QStringLiteral("机房 A"));
        EXPECT_EQ(QApplication::focusWidget(), dialog.findChild<QPushButton*>(QStringLiteral("按钮1")));

        note->setFocus();
        QTest::keyClick(note, Qt::Key_Backtab, Qt::ShiftModifier);
        EXPECT_EQ(QApplication::focusWidget(), dialog.findChild<QLineEdit*>(QStringLiteral("编辑框_密码")));

        note->setFocus();
        QTest::keyClick(note, confirmKey, confirmKey == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        ASSERT_EQ(servers.Count(), 1u);
        EXPECT_EQ(servers.EntryAt(1)->note, Gbk::FromUtf8("机房 A"));
        EXPECT_TRUE(MsgBox::Answered().empty());
    }
}

} // namespace
