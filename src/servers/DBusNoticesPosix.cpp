#include "servers/DBusNoticesPosix.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
// A service that has not answered by then is not going to.
constexpr int kCallTimeoutMs = 10000;
// Notices remembered for their clicks; services close old ones long before this many pile up.
constexpr std::size_t kRemembered = 32;

} // namespace

DBusNotices::DBusNotices(const QDBusConnection& bus, QObject* parent)
    : DesktopNotices(parent)
    , bus_(bus) {
    if (!bus_.isConnected()) {
        state_ = State::Absent;
        // Said once the owner has had the chance to listen.
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT Unavailable(); }, Qt::QueuedConnection);
        return;
    }
    bus_.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
    bus_.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this, SLOT(OnClosed(uint, uint)));
    // The call also starts a service that is only installed for activation on demand.
    const QDBusMessage ask =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("GetCapabilities"));
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(ask, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* call) {
        call->deleteLater();
        const QDBusPendingReply<QStringList> reply = *call;
        if (reply.isError()) {
            state_ = State::Absent;
            waiting_.clear();
            Q_EMIT Unavailable();
            return;
        }
        state_ = State::Present;
        markup_ = reply.value().contains(QStringLiteral("body-markup"));
        for (const Notice& notice : std::exchange(waiting_, {})) {
            Send(notice);
        }
    });
}

void DBusNotices::Show(const QString& summary, const QString& body, quint64 token) {
    switch (state_) {
    case State::Asking:
        waiting_.push_back({summary, body, token});
        break;
    case State::Present:
        Send({summary, body, token});
        break;
    case State::Absent:
        break;
    }
}

void DBusNotices::Send(const Notice& notice) {
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("org.example.tolvar")},
                            {QStringLiteral("category"), QStringLiteral("network")}};
    // The one action is the default one: clicking the notice itself.
    const QStringList actions{QStringLiteral("default"), QStringLiteral("显示")};
    call << QStringLiteral("Tolvar") << 0U << QStringLiteral("tolvar") << notice.summary
         << (markup_ ? notice.body.toHtmlEscaped() : notice.body) << actions << hints << -1;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call, kCallTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, token = notice.token](QDBusPendingCallWatcher* sent) {
                sent->deleteLater();
                const QDBusPendingReply<uint> reply = *sent;
                if (reply.isError()) {
                    return;
                }
                shown_.emplace_back(reply.value(), token);
                if (shown_.size() > kRemembered) {
                    shown_.pop_front();
                }
            });
}

// The action is the only one there is.
void DBusNotices::OnActionInvoked(uint notification, const QString& /*action*/) {
    for (const auto& [number, token] : shown_) {
        if (number == notification) {
            Q_EMIT Clicked(token);
            return;
        }
    }
}

void DBusNotices::OnClosed(uint notification, uint /*reason*/) {
    std::erase_if(shown_, [notification](const auto& item) { return item.first == notification; });
}
