#include "ui/MainWindow.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QTabWidget>
#include <QTest>
#include <gtest/gtest.h>

namespace {

void GiveFocus(QWidget* widget) {
    QFocusEvent event(QEvent::FocusIn, Qt::MouseFocusReason);
    QApplication::sendEvent(widget, &event);
}

TEST(MainWindowTest, BookmarkBoxesEmptyEveryTimeTheyGetTheFocus) {
    MainWindow window;
    // Choosing the tab makes the page's controls at once.
    window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"))->setCurrentIndex(2);
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    auto* address = window.findChild<QLineEdit*>(QStringLiteral("编辑框4"));
    EXPECT_EQ(name->text(), QStringLiteral("请输入名称……"));
    EXPECT_EQ(address->text(), QStringLiteral("请输入地址/URL连接……"));

    GiveFocus(name);
    EXPECT_TRUE(name->text().isEmpty());
    QTest::keyClicks(name, QStringLiteral("search"));
    GiveFocus(address);
    EXPECT_TRUE(address->text().isEmpty());
    QTest::keyClicks(address, QStringLiteral("https://localhost/"));
    EXPECT_EQ(name->text(), QStringLiteral("search"));
    GiveFocus(name);
    EXPECT_TRUE(name->text().isEmpty());
    EXPECT_EQ(address->text(), QStringLiteral("https://localhost/"));
}

TEST(MainWindowTest, ABookmarkBoxKeepsItsTextWhenItsOwnContextMenuCloses) {
    MainWindow window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"))->setCurrentIndex(2);
    auto* name = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
    name->setFocus();
    QTest::keyClicks(name, QStringLiteral("typed"));

    // The menu takes no focus from the box: closing it, as after its "Paste", must not empty it.
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), name->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(name, &event);
    QWidget* menu = QApplication::activePopupWidget();
    ASSERT_NE(menu, nullptr);
    menu->close();
    EXPECT_EQ(QApplication::focusWidget(), name);
    EXPECT_EQ(name->text(), QStringLiteral("typed"));
}

TEST(MainWindowTest, ClosingAnnouncesItselfOnceAndEmbeddedPagesFollowTheTabs) {
    MainWindow window;
    window.show();
    int announced = 0;
    QObject::connect(&window, &MainWindow::AboutToBeDestroyed, &window, [&] { ++announced; });
    // Without embedded pages, switching pages must still work (locked without pages).
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
    for (int page : {0, 1, 2, 3}) {
        tabs->setCurrentIndex(page);
    }
    window.close();
    EXPECT_EQ(announced, 1);
}

TEST(MainWindowTest, TheHiddenPagesGetTheirControlsOnceTheWindowIsDrawnOrTheirTabChosen) {
    const auto made = [](const MainWindow& window) {
        auto* name = window.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
        auto* about = window.findChild<QLabel*>(QStringLiteral("标签16"));
        EXPECT_EQ(name == nullptr, about == nullptr) << "both pages come together";
        return name != nullptr;
    };
    {
        MainWindow window;
        EXPECT_FALSE(made(window)) << "made before the window was drawn";
        window.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return made(window); }));
        auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
        tabs->setCurrentIndex(2);
        EXPECT_EQ(window.findChild<QWidget*>(QStringLiteral("分组框1"))->geometry(), QRect(14, 9, 520, 64));
        EXPECT_TRUE(window.findChild<QLineEdit*>(QStringLiteral("编辑框1"))->isVisible());
        tabs->setCurrentIndex(3);
        EXPECT_TRUE(window.findChild<QLabel*>(QStringLiteral("标签16"))->isVisible());
    }
    // Chosen on a window already on screen, before the deferred build: the controls must show with their page.
    MainWindow window;
    window.show();
    auto* tabs = window.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
    tabs->setCurrentIndex(3);
    ASSERT_TRUE(made(window));
    auto* about = window.findChild<QLabel*>(QStringLiteral("标签16"));
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->geometry(), QRect(14, 24, 512, 352));
    EXPECT_EQ(about->font().pointSize(), 12);
}

TEST(MainWindowTest, TheNetworkToolsPageIsMadeOnceTheWindowIsDrawnOrItsTabChosen) {
    int made = 0;
    const auto make = [&made] {
        ++made;
        return new QWidget;
    };
    {
        MainWindow window;
        window.EmbedPages(new QWidget, make);
        // What is pending runs within these waits; none of it may make the page, or make it again.
        QTest::qWait(20);
        EXPECT_EQ(made, 0) << "made before the window was drawn";
        window.show();
        EXPECT_TRUE(QTest::qWaitFor([&] { return made == 1; }));
        QTest::qWait(20);
        EXPECT_EQ(made, 1);
    }
    MainWindow hidden;
    hidden.EmbedPages(new QWidget, make);
    hidden.findChild<QTabWidget*>(QStringLiteral("高级选择夹1"))->setCurrentIndex(1);
    EXPECT_EQ(made, 2);
    hidden.show();
    QTest::qWait(20);
    EXPECT_EQ(made, 2);
}

} // namespace
