#pragma once

#include "servers/DesktopNotices.h"
#include "servers/ServerNotice.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <memory>
#include <vector>

class QDBusConnection;
class QMenu;
class QSystemTrayIcon;
class QWidget;
class ServerPage;

// The tray icon (its tooltip counts the entries online and offline) and the notices that an entry went offline
// or came back. Changes that come within a few seconds of each other go out as one notice; clicking it shows
// the window with the entry's row selected. Where the desktop has neither a tray nor a way to show notices,
// nothing is shown and nothing else changes.
class TrayNotifier : public QObject {
    Q_OBJECT

public:
    // How long a notice waits for further changes to go with it.
    static constexpr std::chrono::milliseconds kBatchDelay{4000};

    // Watches `page`, shown inside `window`. `notices` may be null (no notices); with `withTray` an icon is put
    // in the tray, whose balloons also carry the notices when `notices` is null or turns out unavailable.
    TrayNotifier(QWidget* window, ServerPage* page, std::unique_ptr<DesktopNotices> notices, bool withTray,
                 std::chrono::milliseconds batchDelay = kBatchDelay);
    ~TrayNotifier() override;

    // What this desktop offers: the tray where there is one, the notification service on Linux. On Linux the
    // icon comes once the desktop's tray service has answered, so a stuck one never holds up the window.
    static TrayNotifier* Install(QWidget* window, ServerPage* page);

    QSystemTrayIcon* TrayIcon() const { return tray_.get(); }
    bool SendsNotices() const { return notices_ != nullptr; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Puts the icon in the tray, once.
    void ShowTray();
    // Shows the icon once the desktop's tray service on `bus` has been found to answer within `timeout` (Linux).
    void AskForTray(const QDBusConnection& bus, std::chrono::milliseconds timeout);
    void OnNotice(const ServerNotice& notice);
    void SendBatch();
    void UpdateToolTip();
    void UseTrayBalloons();
    // Brings the window up on the server list, with the entry's row selected when it is still there.
    void ShowWindow(quint64 id);

    QPointer<QWidget> window_;
    QPointer<ServerPage> page_;
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> tray_;
    std::unique_ptr<DesktopNotices> notices_;
    std::vector<ServerNotice> batch_;
    QTimer batchTimer_;
    QTimer toolTipTimer_;
};
