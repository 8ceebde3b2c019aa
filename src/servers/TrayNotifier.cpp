#include "servers/TrayNotifier.h"

#include "servers/ServerPage.h"
#include "servers/WatchTexts.h"

#include <QApplication>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTabWidget>

#ifdef TOLVAR_DBUS_NOTICES
#include "servers/DBusNotices.h"
#endif

namespace {

// Changes in the tooltip are gathered for this long, so a pass over a thousand entries sets it once.
constexpr std::chrono::milliseconds kToolTipDelay{500};

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
    if (withTray) {
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
        connect(page, &ServerPage::StatusesChanged, this, [this] {
            if (!toolTipTimer_.isActive()) {
                toolTipTimer_.start();
            }
        });
        UpdateToolTip();
        tray_->show();
    }
    if (notices_) {
        connect(notices_.get(), &DesktopNotices::Clicked, this, &TrayNotifier::ShowWindow);
        // Queued: the service object that says so is replaced by the handler.
        connect(notices_.get(), &DesktopNotices::Unavailable, this, &TrayNotifier::UseTrayBalloons,
                Qt::QueuedConnection);
    } else {
        UseTrayBalloons();
    }
    batchTimer_.setSingleShot(true);
    batchTimer_.setInterval(batchDelay);
    connect(&batchTimer_, &QTimer::timeout, this, &TrayNotifier::SendBatch);
    connect(page, &ServerPage::ServerNoticed, this, &TrayNotifier::OnNotice);
}

TrayNotifier::~TrayNotifier() = default;

TrayNotifier* TrayNotifier::Install(QWidget* window, ServerPage* page) {
    std::unique_ptr<DesktopNotices> notices;
#ifdef TOLVAR_DBUS_NOTICES
    notices = std::make_unique<DBusNotices>(QDBusConnection::sessionBus());
#endif
    return new TrayNotifier(window, page, std::move(notices), QSystemTrayIcon::isSystemTrayAvailable());
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
