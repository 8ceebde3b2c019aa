#include "servers/TrayNotifier.h"

#include "servers/ServerPage.h"
#include "servers/WatchTexts.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabWidget>
#include <QTimer>

#ifdef TOLVAR_DBUS_NOTICES
#include "servers/DBusNoticesPosix.h"

#include <QDBusPendingCallWatcher>
#endif

namespace {

// Changes in the tooltip are gathered for this long, so a pass over a thousand entries sets it once.
constexpr std::chrono::milliseconds kToolTipDelay{500};
#ifdef TOLVAR_DBUS_NOTICES
// A tray watcher that has not answered by then is taken for none.
constexpr std::chrono::milliseconds kTrayAskTimeout{5000};
#endif

// Notices as balloons of the tray icon, as Windows shows them. One balloon is up at a time, so a click is
// about the last one.
class TrayBalloons : public DesktopNotices {
public:
    explicit TrayBalloons(QSystemTrayIcon* tray)
        : tray_(tray) {
        connect(tray_, &QSystemTrayIcon::messageClicked, this, [this] { Q_EMIT Clicked(last_); });
    }

    void Show(const QString& summary, const QString& body, quint64 token) override {
        last_ = token;
        tray_->showMessage(summary, body, QSystemTrayIcon::Information, 10000);
    }

private:
    QSystemTrayIcon* tray_;
    quint64 last_ = 0;
};

} // namespace

TrayNotifier::TrayNotifier(QWidget* window, ServerPage* page, std::unique_ptr<DesktopNotices> notices, bool withTray,
                           std::chrono::milliseconds batchDelay)
    : QObject(window)
    , window_(window)
    , page_(page)
    , notices_(std::move(notices)) {
    if (notices_) {
        connect(notices_.get(), &DesktopNotices::Clicked, this, &TrayNotifier::ShowWindow);
        // Queued: the service object that says so is replaced by the handler.
        connect(notices_.get(), &DesktopNotices::Unavailable, this, &TrayNotifier::UseTrayBalloons,
                Qt::QueuedConnection);
    }
    if (withTray) {
        ShowTray();
    }
    batchTimer_.setSingleShot(true);
    batchTimer_.setInterval(batchDelay);
    connect(&batchTimer_, &QTimer::timeout, this, &TrayNotifier::SendBatch);
    connect(page, &ServerPage::ServerNoticed, this, &TrayNotifier::OnNotice);
}

TrayNotifier::~TrayNotifier() = default;

TrayNotifier* TrayNotifier::Install(QWidget* window, ServerPage* page) {
#ifdef TOLVAR_DBUS_NOTICES
    const QDBusConnection bus = QDBusConnection::sessionBus();
    auto* notifier = new TrayNotifier(window, page, std::make_unique<DBusNotices>(bus), false);
    notifier->AskForTray(bus, kTrayAskTimeout);
    return notifier;
#else
    return new TrayNotifier(window, page, nullptr, QSystemTrayIcon::isSystemTrayAvailable());
#endif
}

#ifdef TOLVAR_DBUS_NOTICES
void TrayNotifier::AskForTray(const QDBusConnection& bus, std::chrono::milliseconds timeout) {
    // Qt asks the desktop's tray watcher about the tray, and again for every icon made, on this thread and
    // without a bound worth the name. So the watcher is asked here first, without waiting: one that answers
    // will answer Qt too; one that does not costs the icon and nothing else. Without a watcher Qt looks for
    // the older X11 tray, which the display server itself answers.
    if (!bus.isConnected()) {
        // No bus, or one found not to answer: a call on it would never finish, and only the X11 tray is left,
        // which is asked once the window has been drawn.
        QTimer::singleShot(0, this, [this] {
            if (QSystemTrayIcon::isSystemTrayAvailable()) {
                ShowTray();
            }
        });
        return;
    }
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(QStringLiteral("org.kde.StatusNotifierWatcher"),
                                       QStringLiteral("/StatusNotifierWatcher"),
                                       QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"))
        << QStringLiteral("org.kde.StatusNotifierWatcher") << QStringLiteral("IsStatusNotifierHostRegistered");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask, static_cast<int>(timeout.count())), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusError::ErrorType error = call->error().type();
        if (error == QDBusError::NoReply || error == QDBusError::Timeout) {
            return;
        }
        if (QSystemTrayIcon::isSystemTrayAvailable()) {
            ShowTray();
        }
    });
}
#endif

void TrayNotifier::ShowTray() {
    if (tray_) {
        return;
    }
    tray_ = std::make_unique<QSystemTrayIcon>(QApplication::windowIcon());
    menu_ = std::make_unique<QMenu>();
    menu_->addAction(QStringLiteral("显示窗口"), this, [this] { ShowWindow(0); });
    menu_->addAction(QStringLiteral("退出"), this, [this] {
        if (window_) {
            window_->close();
        }
    });
    tray_->setContextMenu(menu_.get());
    connect(tray_.get(), &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            ShowWindow(0);
        }
    });
    toolTipTimer_.setSingleShot(true);
    toolTipTimer_.setInterval(kToolTipDelay);
    connect(&toolTipTimer_, &QTimer::timeout, this, &TrayNotifier::UpdateToolTip);
    connect(page_.data(), &ServerPage::StatusesChanged, this, [this] {
        if (!toolTipTimer_.isActive()) {
            toolTipTimer_.start();
        }
    });
    UpdateToolTip();
    if (tray_->icon().isNull() && window_) {
        // The program's icon is set once the first window has been drawn, which the desktop's answer may
        // precede; an icon without a picture would not show, so it waits for the picture.
        window_->installEventFilter(this);
    } else {
        tray_->show();
    }
    // Notices that found no service of their own go to the new icon's balloons.
    if (!notices_) {
        UseTrayBalloons();
    }
}

bool TrayNotifier::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_ && event->type() == QEvent::ApplicationWindowIconChange && tray_) {
        window_->removeEventFilter(this);
        tray_->setIcon(QApplication::windowIcon());
        tray_->show();
    }
    return QObject::eventFilter(watched, event);
}

void TrayNotifier::UseTrayBalloons() {
    // A notice service that is not there is replaced by the tray's balloons, or by nothing.
    notices_.reset();
    if (tray_ && QSystemTrayIcon::supportsMessages()) {
        notices_ = std::make_unique<TrayBalloons>(tray_.get());
        connect(notices_.get(), &DesktopNotices::Clicked, this, &TrayNotifier::ShowWindow);
    }
}

void TrayNotifier::OnNotice(const ServerNotice& notice) {
    if (!notices_) {
        return;
    }
    batch_.push_back(notice);
    if (!batchTimer_.isActive()) {
        batchTimer_.start();
    }
}

void TrayNotifier::SendBatch() {
    if (batch_.empty() || !notices_) {
        batch_.clear();
        return;
    }
    // A click shows the first entry the notice names.
    notices_->Show(NoticeSummary(batch_), NoticeBody(batch_, QDateTime::currentDateTime()), batch_.front().id);
    batch_.clear();
}

void TrayNotifier::UpdateToolTip() {
    if (!tray_ || !page_) {
        return;
    }
    const auto [online, offline] = page_->StatusCounts();
    tray_->setToolTip(QStringLiteral("Tolvar\n在线 %1 台，离线 %2 台").arg(online).arg(offline));
}

void TrayNotifier::ShowWindow(quint64 id) {
    if (!window_) {
        return;
    }
    window_->showNormal();
    window_->raise();
    window_->activateWindow();
    // The server list is on the first tab page.
    if (auto* tabs = window_->findChild<QTabWidget*>(QStringLiteral("高级选择夹1"))) {
        tabs->setCurrentIndex(0);
    }
    if (page_ && id != 0) {
        page_->SelectEntry(id);
    }
}
