// The watch seen from the desktop: rows that follow a listener going away and coming back, and the notices
// about it, sent to a stand-in notification service on a session bus of the test's own.
#include "LoopbackPeers.h"
#include "runtime/Gbk.h"
#include "servers/DBusNoticesPosix.h"
#include "servers/ServerPage.h"
#include "servers/TrayNotifier.h"
#include "settings/SettingsFile.h"
#include "support/ModalDialogs.h"
#include "support/PrivateBus.h"

#include <QApplication>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QIcon>
#include <QPixmap>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTest>
#include <QTreeWidget>
#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// No notice ever reaches the desktop of whoever runs the tests.
const bool kOnPrivateBus = RunOnPrivateBus();

// A notification service of our own: records every notice and can click one.
class StandInService : public QDBusVirtualObject {
public:
    struct Notice {
        QString summary;
        QString body;
        QStringList actions;
    };

    StandInService()
        : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("stand-in notices"))) {
        registered_ = bus_.registerVirtualObject(QStringLiteral("/org/freedesktop/Notifications"), this) &&
                      bus_.registerService(QStringLiteral("org.freedesktop.Notifications"));
    }
    ~StandInService() override {
        bus_.unregisterService(QStringLiteral("org.freedesktop.Notifications"));
        bus_.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
        QDBusConnection::disconnectFromBus(QStringLiteral("stand-in notices"));
    }

    bool Registered() const { return registered_; }
    const std::vector<Notice>& Notices() const { return notices_; }

    // The user clicks notice `number` (from 1).
    void Click(uint number) {
        QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/Notifications"),
                                                         QStringLiteral("org.freedesktop.Notifications"),
                                                         QStringLiteral("ActionInvoked"));
        signal << number << QStringLiteral("default");
        bus_.send(signal);
    }

    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        if (message.member() == QStringLiteral("GetCapabilities")) {
            connection.send(message.createReply(
                QStringList{QStringLiteral("actions"), QStringLiteral("body"), QStringLiteral("body-markup")}));
            return true;
        }
        if (message.member() == QStringLiteral("Notify") && message.arguments().size() == 8) {
            const QList<QVariant> arguments = message.arguments();
            notices_.push_back({arguments[3].toString(), arguments[4].toString(), arguments[5].toStringList()});
            connection.send(message.createReply(static_cast<uint>(notices_.size())));
            return true;
        }
        return false;
    }

private:
    QDBusConnection bus_;
    bool registered_ = false;
    std::vector<Notice> notices_;
};

// A listener on a port of its own that can go away and come back on the same port.
class Reopenable {
public:
    Reopenable() { Open(0); }
    ~Reopenable() { Close(); }

    std::string PortText() const { return std::to_string(port_); }
    void Close() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    void Reopen() { Open(port_); }

private:
    void Open(std::uint16_t port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int yes = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ASSERT_EQ(::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        ASSERT_EQ(::listen(fd_, 128), 0);
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }

    int fd_ = -1;
    std::uint16_t port_ = 0;
};

class WatchNoticeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kOnPrivateBus) << "dbus-run-session is missing; scripts/install-deps installs it";
        ArmModalGuard();
    }
    void TearDown() override { DisarmModalGuard(); }

    void Open(const std::string& text, std::chrono::milliseconds interval) {
        settings_ = BytesFromText(text);
        ProbeSettings probe;
        probe.bound = 2s;
        page_ = new ServerPage(servers_, settings_, password_, &window_, probe, interval);
        list_ = page_->findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));
        // The watch begins once the list is on screen.
        window_.show();
    }

    QString StatusOf(int row) const { return list_->topLevelItem(row)->text(3); }
    bool Rows(const std::vector<QString>& statuses, int patienceMs = 10000) const {
        return QTest::qWaitFor(
            [&] {
                for (std::size_t row = 0; row < statuses.size(); ++row) {
                    if (StatusOf(static_cast<int>(row)) != statuses[row]) {
                        return false;
                    }
                }
                return true;
            },
            patienceMs);
    }

    QWidget window_;
    ServerList servers_;
    Bytes settings_;
    std::string password_;
    ServerPage* page_ = nullptr;
    QTreeWidget* list_ = nullptr;
};

TEST_F(WatchNoticeTest, AListenerThatGoesAndComesBackTurnsItsRowsWithinAnIntervalAndIsToldOnceEachTime) {
    StandInService service;
    ASSERT_TRUE(service.Registered());
    Reopenable listener;
    const ClosedPort closed;
    constexpr auto kInterval = 500ms;
    Open("127.0.0.1|" + listener.PortText() + "|a||" + Gbk::FromUtf8("一区 <主>") + "\r\n" + //
             "127.0.0.1|" + listener.PortText() + "|b||\r\n" +                               //
             "127.0.0.1|" + closed.PortText() + "|c||\r\n",
         kInterval);
    // The listener may reopen between the probes of the two rows of one pass, so one row comes back a pass
    // later: the notices gather changes for longer than an interval, as they do at the real pace.
    TrayNotifier notifier(&window_, page_, std::make_unique<DBusNotices>(QDBusConnection::sessionBus()), true, 1200ms);
    ASSERT_NE(notifier.TrayIcon(), nullptr);
    const auto tip = [&](const char* text) {
        return QTest::qWaitFor([&] { return notifier.TrayIcon()->toolTip() == QString::fromUtf8(text); }, 5000);
    };

    const QString online = QStringLiteral("在线");
    const QString offline = QStringLiteral("离线");
    ASSERT_TRUE(Rows({online, online, offline}));
    EXPECT_TRUE(tip("Tolvar\n在线 2 台，离线 1 台")) << notifier.TrayIcon()->toolTip().toStdString();
    // Several passes with nothing changed: the first pass tells nothing, and neither do they, and no row is
    // touched.
    QSignalSpy touched(list_->model(), &QAbstractItemModel::dataChanged);
    QTest::qWait(3 * kInterval.count());
    EXPECT_TRUE(service.Notices().empty());
    EXPECT_EQ(touched.count(), 0);
    EXPECT_EQ(page_->StatusCounts(), std::make_pair(2, 1));

    listener.Close();
    Clock::time_point changed = Clock::now();
    ASSERT_TRUE(Rows({offline, offline, offline}));
    EXPECT_TRUE(tip("Tolvar\n在线 0 台，离线 3 台")) << notifier.TrayIcon()->toolTip().toStdString();
    // One interval, and the time a loaded machine takes to run a pass and deliver it.
    EXPECT_LT(Clock::now() - changed, kInterval + 3000ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !service.Notices().empty(); }, 5000));
    // A second notice for the same change would come within a few passes; none must.
    QTest::qWait(3 * kInterval.count());
    ASSERT_EQ(service.Notices().size(), 1u) << "two rows going down together are one notice, sent once";
    const StandInService::Notice down = service.Notices()[0];
    EXPECT_EQ(down.summary, QStringLiteral("2 台服务器状态变化"));
    const QString port = QString::fromStdString(listener.PortText());
    EXPECT_TRUE(down.body.contains(QStringLiteral(" 离线：127.0.0.1:%1  一区 &lt;主&gt;\n").arg(port)) ||
                down.body.endsWith(QStringLiteral(" 离线：127.0.0.1:%1  一区 &lt;主&gt;").arg(port)))
        << down.body.toStdString();
    EXPECT_EQ(down.body.count(u'\n'), 1) << "only the two rows that were online: " << down.body.toStdString();
    EXPECT_EQ(down.actions, (QStringList{QStringLiteral("default"), QStringLiteral("显示")}));

    listener.Reopen();
    changed = Clock::now();
    ASSERT_TRUE(Rows({online, online, offline}));
    EXPECT_LT(Clock::now() - changed, kInterval + 3000ms);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.Notices().size() == 2; }, 5000));
    // As above: no third notice in the passes that follow.
    QTest::qWait(3 * kInterval.count());
    ASSERT_EQ(service.Notices().size(), 2u);
    EXPECT_EQ(service.Notices()[1].body.count(QStringLiteral(" 恢复在线：127.0.0.1:%1").arg(port)), 2)
        << service.Notices()[1].body.toStdString();

    // Clicking the notice brings the window up with the row of the first entry it names.
    ASSERT_TRUE(list_->selectedItems().isEmpty());
    service.Click(2);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !list_->selectedItems().isEmpty(); }, 5000));
    EXPECT_LT(list_->indexOfTopLevelItem(list_->selectedItems().front()), 2);
    EXPECT_TRUE(window_.isVisible());
    EXPECT_EQ(page_->StatusCounts(), std::make_pair(2, 1));
}

// The desktop may answer before the program's icon is set, once its window has been drawn: the tray icon
// shows with that picture then, not before without one.
TEST_F(WatchNoticeTest, TheTrayIconWaitsForTheProgramsPicture) {
    Open("127.0.0.1|1|a||\r\n", 1h);
    QApplication::setWindowIcon(QIcon());
    TrayNotifier notifier(&window_, page_, nullptr, true);
    ASSERT_NE(notifier.TrayIcon(), nullptr);
    EXPECT_FALSE(notifier.TrayIcon()->isVisible());
    QPixmap picture(16, 16);
    picture.fill(Qt::darkBlue);
    QApplication::setWindowIcon(QIcon(picture));
    EXPECT_FALSE(notifier.TrayIcon()->icon().isNull());
    EXPECT_TRUE(notifier.TrayIcon()->isVisible());
    QApplication::setWindowIcon(QIcon());
}

TEST_F(WatchNoticeTest, WithNeitherATrayNorANotificationServiceNothingIsShown) {
    ASSERT_FALSE(QDBusConnection::sessionBus().interface()->isServiceRegistered(
        QStringLiteral("org.freedesktop.Notifications")));
    Open("127.0.0.1|1|a||\r\n", 1h);
    TrayNotifier notifier(&window_, page_, std::make_unique<DBusNotices>(QDBusConnection::sessionBus()), false, 50ms);
    EXPECT_TRUE(notifier.SendsNotices()) << "until the bus has answered";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !notifier.SendsNotices(); }, 5000));
    EXPECT_EQ(notifier.TrayIcon(), nullptr);
    // A change that would be told elsewhere goes nowhere (the hidden window is not brought up), and the page
    // goes on as before.
    ASSERT_TRUE(Rows({QStringLiteral("离线")}));
    window_.hide();
    Q_EMIT page_->ServerNoticed({1, false, QStringLiteral("127.0.0.1"), QStringLiteral("1"), {}, QDateTime()});
    // Bringing the window up would happen within this time; it must not.
    QTest::qWait(200);
    EXPECT_FALSE(window_.isVisible());

    // No session bus at all comes to the same.
    const QDBusConnection nowhere =
        QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent"), QStringLiteral("nowhere"));
    ASSERT_FALSE(nowhere.isConnected());
    TrayNotifier unconnected(&window_, page_, std::make_unique<DBusNotices>(nowhere), false, 50ms);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !unconnected.SendsNotices(); }, 5000));
    QDBusConnection::disconnectFromBus(QStringLiteral("nowhere"));
}

} // namespace
