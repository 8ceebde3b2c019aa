#pragma once

#include "servers/DesktopNotices.h"

#include <QDBusConnection>
#include <deque>
#include <utility>
#include <vector>

// Notices through the desktop's notification service (org.freedesktop.Notifications) on the session bus, which
// every common Linux desktop runs, with or without a tray. Every call is asynchronous: a slow or stuck service
// never holds up the window.
class DBusNotices : public DesktopNotices {
    Q_OBJECT

public:
    // Asks the service on `bus` what it can do; notices shown before it has answered are sent once it has.
    explicit DBusNotices(const QDBusConnection& bus, QObject* parent = nullptr);

    void Show(const QString& summary, const QString& body, quint64 token) override;

private Q_SLOTS:
    void OnActionInvoked(uint notification, const QString& action);
    void OnClosed(uint notification, uint reason);

private:
    struct Notice {
        QString summary;
        QString body;
        quint64 token;
    };
    enum class State { Asking, Present, Absent };

    void Send(const Notice& notice);

    QDBusConnection bus_;
    State state_ = State::Asking;
    // Whether the service reads the body as markup, so that a host's "<" must be escaped.
    bool markup_ = false;
    std::vector<Notice> waiting_;
    // The service's number of each notice still on screen, with its token; the oldest are forgotten first.
    std::deque<std::pair<uint, quint64>> shown_;
};
