#include "ProcessProbe.h"
#include "tools/NetToolsPage.h"
#include "tools/PingOutputBox.h"
#include "tools/PingRulesWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QFontInfo>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class PingPageTest : public ::testing::Test {
protected:
    void TearDown() override {
        EXPECT_TRUE(WaitUntil([] { return ChildrenOfThisProcess().empty(); }, 10000));
    }

    QPushButton* Button(QWidget* window, const char16_t* name) {
        return window->findChild<QPushButton*>(QString::fromUtf16(name));
    }
    QLineEdit* Target() { return page_.findChild<QLineEdit*>(QStringLiteral("编辑框1")); }
    QPlainTextEdit* Output() { return page_.findChild<QPlainTextEdit*>(QStringLiteral("编辑框2")); }
    QString Caption() { return Button(&page_, u"按钮3")->text(); }
    void ClickPing() { QTest::mouseClick(Button(&page_, u"按钮3"), Qt::LeftButton); }

    // Clicks "规则" and returns the rules window it opened.
    PingRulesWindow* OpenRules() {
        QTest::mouseClick(Button(&page_, u"按钮2"), Qt::LeftButton);
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* window = qobject_cast<PingRulesWindow*>(widget); window != nullptr && window->isVisible()) {
                return window;
            }
        }
        ADD_FAILURE() << "no rules window";
        return nullptr;
    }

    StandInPing ping_;
    NetToolsPage page_;
};

TEST_F(PingPageTest, RunEndsByItselfAndTheNextRunsOutputFollows) {
    ping_.Script(R"(echo "reply from $4")");
    Target()->setText(QStringLiteral("127.0.0.1"));
    EXPECT_EQ(Caption(), QStringLiteral("开始Ping"));
    ClickPing();
    EXPECT_EQ(Caption(), QStringLiteral("停止"));
    ASSERT_TRUE(WaitUntil([&] { return Caption() == QStringLiteral("开始Ping"); }));
    EXPECT_EQ(Output()->toPlainText(), QStringLiteral("reply from 127.0.0.1\n"));

    Target()->setText(QStringLiteral("localhost"));
    ClickPing();
    ASSERT_TRUE(WaitUntil([&] { return Caption() == QStringLiteral("开始Ping"); }));
    EXPECT_EQ(Output()->toPlainText(), QStringLiteral("reply from 127.0.0.1\nreply from localhost\n"));
}

TEST_F(PingPageTest, StopEndsTheRunAtOnceAndNothingIsAppendedAfter) {
    ping_.Script(R"(while :; do echo tick; sleep 0.02; done)");
    Target()->setText(QStringLiteral("127.0.0.1 -t"));
    ClickPing();
    ASSERT_TRUE(WaitUntil([&] { return Output()->toPlainText().contains(QStringLiteral("tick")); }));
    ClickPing();
    EXPECT_EQ(Caption(), QStringLiteral("开始Ping"));
    const QString shown = Output()->toPlainText();
    // Output a stopped run would still append comes within this time; none must.
    Spin(200);
    EXPECT_EQ(Output()->toPlainText(), shown);
    EXPECT_TRUE(WaitUntil([] { return ChildrenOfThisProcess().empty(); }, 10000));
}

TEST_F(PingPageTest, PageGoingEndsItsRun) {
    ping_.Script(R"(exec sleep 1000)");
    auto* page = new NetToolsPage;
    page->findChild<QLineEdit*>(QStringLiteral("编辑框1"))->setText(QStringLiteral("127.0.0.1 -t"));
    QTest::mouseClick(Button(page, u"按钮3"), Qt::LeftButton);
    ASSERT_TRUE(WaitUntil([] { return !ChildrenOfThisProcess().empty(); }));
    delete page;
    EXPECT_TRUE(WaitUntil([] { return ChildrenOfThisProcess().empty(); }, 10000));
}

TEST_F(PingPageTest, ClosingTheWindowThatShowsThePageEndsItsRun) {
    ping_.Script(R"(exec sleep 1000)");
    QWidget window;
    page_.setParent(&window);
    window.show();
    Target()->setText(QStringLiteral("127.0.0.1 -t"));
    ClickPing();
    ASSERT_TRUE(WaitUntil([] { return !ChildrenOfThisProcess().empty(); }));
    window.close();
    EXPECT_EQ(Caption(), QStringLiteral("开始Ping"));
    EXPECT_TRUE(WaitUntil([] { return ChildrenOfThisProcess().empty(); }, 10000));
    page_.setParent(nullptr);
}

TEST_F(PingPageTest, QuickInsertAppendsItsOptionAndClosesTheRulesWindow) {
    QPointer<PingRulesWindow> rules = OpenRules();
    ASSERT_TRUE(rules);
    EXPECT_EQ(rules->windowTitle(), QStringLiteral("ping规则大全"));
    EXPECT_EQ(rules->parentWidget(), nullptr);
    EXPECT_FALSE(rules->isModal());
    QTest::mouseClick(Button(rules, u"按钮1"), Qt::LeftButton);
    EXPECT_EQ(Target()->text(), QStringLiteral(" -t"));
    EXPECT_TRUE(WaitUntil([&] { return rules.isNull(); }));

    Target()->setText(QStringLiteral("127.0.0.1"));
    rules = OpenRules();
    QTest::mouseClick(Button(rules, u"按钮1"), Qt::LeftButton);
    rules = OpenRules();
    QTest::mouseClick(Button(rules, u"按钮2"), Qt::LeftButton);
    EXPECT_EQ(Target()->text(), QStringLiteral("127.0.0.1 -t -a"));
    EXPECT_TRUE(WaitUntil([&] { return rules.isNull(); }));
}

TEST_F(PingPageTest, SecondTargetOrUnknownOptionShowsTheUsageAndStartsNothing) {
    ping_.Script(R"(echo ran >> "$DIR/ran")");
    const struct {
        QString line;
        QString reason;
    } refused[] = {
        {QStringLiteral("127.0.0.1 127.0.0.2"), QStringLiteral("参数 127.0.0.2 无效：一次只能 ping 一个目标。")},
        {QStringLiteral("127.0.0.1 -c 5"), QStringLiteral("无法识别的选项 -c。")}};
    for (const auto& [line, reason] : refused) {
        Output()->clear();
        Target()->setText(line);
        ClickPing();
        EXPECT_EQ(Caption(), QStringLiteral("开始Ping"));
        // The usage, and below it, where the box shows its end, the reason.
        const QString shown = Output()->toPlainText();
        EXPECT_TRUE(shown.startsWith(QStringLiteral("用法:\nping [-t]"))) << shown.toStdString();
        EXPECT_TRUE(shown.endsWith(QStringLiteral("\n\n") + reason + QLatin1Char('\n'))) << shown.toStdString();
    }
    // A child wrongly started would have written its file by now.
    Spin(100);
    EXPECT_FALSE(std::filesystem::exists(ping_.File("ran")));
}

TEST_F(PingPageTest, ConsoleKeysInTheOutputBoxStopOrShowStatistics) {
    // The real ping, found on PATH behind the empty stand-in directory.
    Target()->setText(QStringLiteral("127.0.0.1 -t"));
    ClickPing();
    ASSERT_TRUE(WaitUntil([&] { return Output()->toPlainText().contains(QStringLiteral("icmp_seq=2")); }, 10000));
    // What an X server sends for Ctrl+Pause: the keysym Break, for which Qt has no key code.
    QKeyEvent ctrlBreak(QEvent::KeyPress, 0, Qt::ControlModifier, 127, 0xff6b, 0x4);
    QApplication::sendEvent(Output(), &ctrlBreak);
    EXPECT_TRUE(WaitUntil([&] { return Output()->toPlainText().contains(QStringLiteral("packets, 0% loss")); }));
    EXPECT_EQ(Caption(), QStringLiteral("停止"));

    // With text selected Ctrl+C copies it, and the run goes on.
    Output()->selectAll();
    QTest::keyClick(Output(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_TRUE(QApplication::clipboard()->text().contains(QStringLiteral("icmp_seq=1")));
    EXPECT_EQ(Caption(), QStringLiteral("停止"));
    // Without a selection it stops the run as "停止" does.
    Output()->moveCursor(QTextCursor::End);
    QTest::keyClick(Output(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(Caption(), QStringLiteral("开始Ping"));
    EXPECT_TRUE(WaitUntil([] { return ChildrenOfThisProcess().empty(); }, 10000));
}

TEST_F(PingPageTest, RulesWindowOpensCentredOnItsWindowKeepsItsColumnsAndEscapeClosesIt) {
    page_.move(60, 40);
    page_.show();
    QPointer<PingRulesWindow> rules = OpenRules();
    ASSERT_TRUE(rules);
    const QPoint offset = rules->frameGeometry().center() - page_.frameGeometry().center();
    EXPECT_LE(offset.manhattanLength(), 2) << offset.x() << "," << offset.y();
    // The usage's columns are lined up with blanks, which only a fixed-pitch face keeps aligned.
    auto* text = rules->findChild<QPlainTextEdit*>(QStringLiteral("编辑框1"));
    EXPECT_TRUE(QFontInfo(text->font()).fixedPitch()) << QFontInfo(text->font()).family().toStdString();
    EXPECT_TRUE(text->toPlainText().contains(QStringLiteral("\n    -n count        本次")));

    rules->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rules));
    QTest::keyClick(text, Qt::Key_Escape);
    EXPECT_TRUE(WaitUntil([&] { return rules.isNull(); }));
}

TEST_F(PingPageTest, RulesWindowOutlivesThePageHarmlessly) {
    auto* page = new NetToolsPage;
    QTest::mouseClick(Button(page, u"按钮2"), Qt::LeftButton);
    QPointer<PingRulesWindow> rules;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* window = qobject_cast<PingRulesWindow*>(widget); window != nullptr && window->isVisible()) {
            rules = window;
        }
    }
    ASSERT_TRUE(rules);
    delete page;
    QTest::mouseClick(Button(rules, u"按钮1"), Qt::LeftButton);
    EXPECT_TRUE(WaitUntil([&] { return rules.isNull(); }));
}

TEST(PingOutputBoxTest, KeepsTheNewestLinesWithinBounds) {
    QPlainTextEdit box;
    const int limit = kPingOutputKept + kPingOutputKept / 4;
    QString chunk;
    int written = 0;
    for (int line = 0; written < 4 * kPingOutputKept; ++line) {
        chunk += QStringLiteral("64 bytes from 127.0.0.1: icmp_seq=%1\n").arg(line, 8, 10, QLatin1Char('0'));
        if (chunk.size() > 4000) {
            AppendPingOutput(box, chunk);
            written += chunk.size();
            ASSERT_LE(box.document()->characterCount(), limit + 4100);
            chunk.clear();
        }
    }
    AppendPingOutput(box, chunk);
    const QString text = box.toPlainText();
    EXPECT_GE(text.size(), kPingOutputKept);
    // Whole lines went, the oldest first: the box starts at a line's start and ends with the newest.
    EXPECT_TRUE(text.startsWith(QStringLiteral("64 bytes from")));
    EXPECT_TRUE(text.endsWith(chunk));
    // Dropped text must not live on in the undo history either.
    EXPECT_FALSE(box.document()->isUndoRedoEnabled());
}

TEST(PingOutputBoxTest, LineWithoutEndIsCutInside) {
    QPlainTextEdit box;
    // Few large chunks: laying out one long line again after each append is what takes the time here.
    const QString chunk(700 * 1024, QLatin1Char('x'));
    for (int i = 0; i < 3; ++i) {
        AppendPingOutput(box, chunk);
    }
    EXPECT_GE(box.document()->characterCount(), kPingOutputKept);
    EXPECT_LE(box.document()->characterCount(), kPingOutputKept + kPingOutputKept / 4 + chunk.size());
}

TEST(PingOutputBoxTest, ChunksJoinWithoutLineBreaksOfTheirOwn) {
    QPlainTextEdit box;
    AppendPingOutput(box, QStringLiteral("Reply from "));
    AppendPingOutput(box, QStringLiteral("127.0.0.1\nnext"));
    EXPECT_EQ(box.toPlainText(), QStringLiteral("Reply from 127.0.0.1\nnext"));
}

} // namespace
