#include "LoopbackHttp.h"
#include "runtime/HostInfo.h"
#include "runtime/MsgBox.h"
#include "support/ModalDialogs.h"
#include "tools/NetToolsPage.h"
#include "tools/PageFetcher.h"

#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;

// The page's controls by their names.
struct Controls {
    explicit Controls(NetToolsPage& page)
        : input(page.findChild<QLineEdit*>(QStringLiteral("编辑框1")))
        , button(page.findChild<QPushButton*>(QStringLiteral("按钮1")))
        , foundAddress(page.findChild<QLabel*>(QStringLiteral("透明标签查询IP")))
        , foundLocation(page.findChild<QLabel*>(QStringLiteral("透明标签查询位置")))
        , ownAddress(page.findChild<QLabel*>(QStringLiteral("透明标签IP")))
        , ownLocation(page.findChild<QLabel*>(QStringLiteral("透明标签位置")))
        , localAddress(page.findChild<QLabel*>(QStringLiteral("透明标签局域网IP")))
        , hostName(page.findChild<QLabel*>(QStringLiteral("透明标签本机名"))) {}

    QLineEdit* input;
    QPushButton* button;
    QLabel* foundAddress;
    QLabel* foundLocation;
    QLabel* ownAddress;
    QLabel* ownLocation;
    QLabel* localAddress;
    QLabel* hostName;
};

// Points the page at `url` for the length of a test.
class LookupAt {
public:
    explicit LookupAt(const std::string& url) { qputenv("TOLVAR_LOOKUP_URL", QByteArray::fromStdString(url)); }
    ~LookupAt() { qunsetenv("TOLVAR_LOOKUP_URL"); }
};

void Type(QLineEdit* input, const QString& text) {
    input->clear();
    QTest::keyClicks(input, text);
}

TEST(NetToolsPageLookupTest, ShowsOwnAddressAndLooksUpAgainstTheService) {
    LookupdProcess service;
    LookupAt at(service.Url());
    NetToolsPage page;
    Controls c(page);
    // Local values show at once; the public address follows from the service.
    const std::vector<std::string> local = LocalIpv4Addresses();
    EXPECT_EQ(c.localAddress->text().toStdString(), local.empty() ? "" : local.front());
    EXPECT_EQ(page.LocalAddresses(), local);
    EXPECT_EQ(c.hostName->text().toStdString(), HostName());
    QTRY_COMPARE(c.ownAddress->text(), QStringLiteral("127.0.0.1"));
    EXPECT_EQ(c.ownLocation->text(), QString());
    EXPECT_EQ(c.button->text(), QStringLiteral("查询位置"));

    Type(c.input, QStringLiteral("8.8.8.8"));
    QTest::mouseClick(c.button, Qt::LeftButton);
    EXPECT_EQ(c.button->text(), QStringLiteral("查询中……"));
    QTRY_COMPARE(c.button->text(), QStringLiteral("查询"));
    EXPECT_EQ(c.foundAddress->text(), QStringLiteral("8.8.8.8"));
    EXPECT_EQ(c.foundLocation->text(), QStringLiteral("美国"));

    // Enter starts the same lookup; an address the service cannot place gives the error text.
    Type(c.input, QStringLiteral("10.0.0.1"));
    QTest::keyClick(c.input, Qt::Key_Return);
    EXPECT_TRUE(c.foundAddress->text().isEmpty());
    QTRY_COMPARE(c.foundAddress->text(), QStringLiteral("查询错误，请检查要查询的IP……"));
    EXPECT_EQ(c.foundLocation->text(), QString());
    EXPECT_EQ(c.button->text(), QStringLiteral("查询"));

    // Other keys do nothing; an empty box asks for an address and sends nothing.
    Type(c.input, QStringLiteral("1"));
    QTest::keyClick(c.input, Qt::Key_Tab);
    EXPECT_EQ(c.button->text(), QStringLiteral("查询"));
    c.input->clear();
    MsgBox::ClearAnswered();
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    QTest::mouseClick(c.button, Qt::LeftButton);
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_EQ(MsgBox::Answered()[0].text, QStringLiteral("要查询的IP不能为空！"));
    EXPECT_EQ(MsgBox::Answered()[0].caption, QStringLiteral("信息："));
    EXPECT_TRUE(c.foundAddress->text().isEmpty());
    EXPECT_EQ(c.button->text(), QStringLiteral("查询"));
    EXPECT_TRUE(c.button->isEnabled());
}

TEST(NetToolsPageLookupTest, SendsTheBoxAsTypedAndShowsTheReportedValues) {
    LoopbackHttpServer server([](int socket, const std::string& target, const std::atomic<bool>&) {
        const std::string page = "<span id=\"status\" class=\"info1\">\r\nok\r\n上面三项依次显示的是\r\n"
                                 "<strong class=\"red\">查询结果[1]: 203.0.113.9 ==>> 3405803785 ==>> 测试网络 " +
                                 target + "</strong><br />\r\n";
        SendResponse(socket, "200 OK", page);
    });
    LookupAt at(server.Url());
    NetToolsPage page;
    Controls c(page);
    QTRY_COMPARE(server.Heads().size(), std::size_t{1});
    Type(c.input, QStringLiteral("example.test -t"));
    QTest::mouseClick(c.button, Qt::LeftButton);
    QTRY_COMPARE(c.button->text(), QStringLiteral("查询"));
    Type(c.input, QStringLiteral("198.51.100.1#frag"));
    QTest::keyClick(c.input, Qt::Key_Enter);
    QTRY_COMPARE(server.Heads().size(), std::size_t{3});
    QTRY_COMPARE(c.button->text(), QStringLiteral("查询"));

    const std::vector<std::string> targets = server.Targets();
    EXPECT_EQ(targets[0], "/");
    EXPECT_EQ(targets[1], "/?IP=example.test%20-t");
    EXPECT_EQ(targets[2], "/?IP=198.51.100.1");
    EXPECT_EQ(c.foundAddress->text(), QStringLiteral("203.0.113.9"));
    EXPECT_EQ(c.foundLocation->text(), QStringLiteral("测试网络 /?IP=198.51.100.1"));
}

TEST(NetToolsPageLookupTest, ValuesThatLookLikeMarkupShowAsTheyCame) {
    LoopbackHttpServer server([](int socket, const std::string&, const std::atomic<bool>&) {
        SendResponse(socket, "200 OK",
                     "您的IP:[<strong class=\"red\"><b>198.51.100.4</b></strong>] 来自:<strong><i>荷兰</i></strong>"
                     "<span id=\"status\" class=\"info1\">\r\nok\r\n上面三项依次显示的是\r\n"
                     "<strong class=\"red\">查询结果[1]: <u>8.8.8.8</u> ==>> 134744072 ==>> <h1>美国</h1>"
                     "</strong><br />\r\n");
    });
    LookupAt at(server.Url());
    NetToolsPage page;
    Controls c(page);
    Type(c.input, QStringLiteral("8.8.8.8"));
    QTest::mouseClick(c.button, Qt::LeftButton);
    QTRY_COMPARE(c.button->text(), QStringLiteral("查询"));
    QTRY_COMPARE(c.ownAddress->text(), QStringLiteral("<b>198.51.100.4</b>"));
    // Shown as rich text the tags would vanish and the label need less room than its characters do.
    for (QLabel* label : {c.ownAddress, c.ownLocation, c.foundAddress, c.foundLocation}) {
        ASSERT_TRUE(label->text().startsWith(QLatin1Char('<'))) << label->objectName().toStdString();
        EXPECT_GE(label->sizeHint().width(), label->fontMetrics().horizontalAdvance(label->text()))
            << label->objectName().toStdString();
    }
}

TEST(NetToolsPageLookupTest, AddressCaptionShowsWholeDespiteStartingLeftOfItsGroup) {
    LookupAt at("http://127.0.0.1:1/");
    NetToolsPage page;
    auto* caption = page.findChild<QLabel*>(QStringLiteral("透明标签5"));
    EXPECT_EQ(caption->x(), -25);
    EXPECT_TRUE(caption->alignment() & Qt::AlignRight);
    // Only the part right of the group box's edge is seen; the text must fit there.
    EXPECT_LE(caption->fontMetrics().horizontalAdvance(caption->text()), caption->x() + caption->width());
}

TEST(NetToolsPageLookupTest, AStalledServiceNeitherFreezesTheWindowNorAllowsASecondLookup) {
    LoopbackHttpServer server([](int, const std::string&, const std::atomic<bool>& stopping) {
        while (!stopping) {
            std::this_thread::sleep_for(5ms);
        }
    });
    LookupAt at(server.Url());
    QElapsedTimer created;
    created.start();
    auto page = std::make_unique<NetToolsPage>();
    // Waiting for the own-address fetch would take its ten-second bound.
    EXPECT_LT(created.elapsed(), 5000);
    Controls c(*page);
    EXPECT_TRUE(c.ownAddress->text().isEmpty());

    Type(c.input, QStringLiteral("8.8.8.8"));
    QTest::mouseClick(c.button, Qt::LeftButton);
    EXPECT_EQ(c.button->text(), QStringLiteral("查询中……"));
    EXPECT_FALSE(c.button->isEnabled());
    // Timers keep firing while the lookup waits: the event loop is not blocked.
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] { ++ticks; });
    timer.start(10);
    QTRY_VERIFY_WITH_TIMEOUT(ticks >= 5, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(server.Heads().size(), std::size_t{2}, 10000); // the own-address fetch and the lookup
    QTest::mouseClick(c.button, Qt::LeftButton);
    QTest::keyClick(c.input, Qt::Key_Return);
    // A second lookup would reach the server within this time; none must.
    QTest::qWait(100);
    EXPECT_EQ(server.Heads().size(), 2u);

    // The server gives up without an answer: empty values, no message, the button back.
    ArmModalGuard();
    server.Release();
    QTRY_COMPARE(c.button->text(), QStringLiteral("查询"));
    EXPECT_TRUE(c.button->isEnabled());
    EXPECT_TRUE(c.foundAddress->text().isEmpty());
    EXPECT_TRUE(c.foundLocation->text().isEmpty());
    DisarmModalGuard();
}

TEST(NetToolsPageLookupTest, ClosingDuringAStalledFetchDoesNotWaitForIt) {
    LoopbackHttpServer server([](int, const std::string&, const std::atomic<bool>& stopping) {
        while (!stopping) {
            std::this_thread::sleep_for(5ms);
        }
    });
    LookupAt at(server.Url());
    auto page = std::make_unique<NetToolsPage>();
    Controls c(*page);
    Type(c.input, QStringLiteral("8.8.8.8"));
    QTest::keyClick(c.input, Qt::Key_Return);
    QTRY_COMPARE(server.Heads().size(), std::size_t{2});
    QElapsedTimer closing;
    closing.start();
    page.reset();
    // Waiting for the fetch would take its ten-second bound.
    EXPECT_LT(closing.elapsed(), 5000);
}

} // namespace
