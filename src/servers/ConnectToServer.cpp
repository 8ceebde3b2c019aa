#include "servers/ConnectToServer.h"

#include "runtime/DetachedThread.h"
#include "runtime/GbkQt.h"
#include "runtime/Log.h"
#include "runtime/MsgBox.h"
#include "servers/ClientEnd.h"
#include "servers/Probe.h"
#include "servers/RemoteDesktopLauncher.h"

#include <QFileInfo>
#include <QSocketNotifier>
#include <chrono>
#include <functional>
#include <mutex>

namespace {

// A server that was there to end the client's connection a moment ago answers at once.
constexpr std::chrono::milliseconds kRecheckBound{5000};

const QString kCaption = QStringLiteral("连接服务器");

void ShowWarning(const QString& text) {
    MsgBox::Show(text, kCaption, MsgBox::Buttons::Ok, MsgBox::Icon::Warning);
}

// The box of the editor that holds `field`, as its label names it.
QString BoxName(ConnectionField field) {
    switch (field) {
    case ConnectionField::Host:
        return QStringLiteral("IP/域名");
    case ConnectionField::Port:
        return QStringLiteral("端口");
    case ConnectionField::Account:
        return QStringLiteral("登陆账号");
    case ConnectionField::Password:
    case ConnectionField::None:
        break;
    }
    return QStringLiteral("登陆密码");
}

// The entry as the list shows it, with its line breaks made visible.
QString EntryName(const ServerEntry& entry) {
    QString name = Gbk::ToQString(entry.host) + u':' + Gbk::ToQString(entry.port);
    name.replace(u'\r', u' ').replace(u'\n', u' ').replace(QChar(0), u' ');
    return name;
}

QString FailureText(ClientFailure failure, const ServerEntry& entry, const QString& client, int code) {
    const QString server = EntryName(entry);
    switch (failure) {
    case ClientFailure::WrongCredentials:
        return QStringLiteral("无法登录服务器 %1：账号或密码错误。\n请用“修改”检查该服务器的登陆账号和密码。")
            .arg(server);
    case ClientFailure::LoginDropped:
        return QStringLiteral("无法登录服务器 %1：服务器在登录时断开了连接，多半是账号或密码错误。\n"
                              "请用“修改”检查该服务器的登陆账号和密码。")
            .arg(server);
    case ClientFailure::Unreachable:
    case ClientFailure::Dropped:
        return QStringLiteral("无法连接服务器 %1：主机不可达，或该端口没有远程桌面服务。\n请检查地址、端口和网络。")
            .arg(server);
    case ClientFailure::CertificateChanged:
        return QStringLiteral("服务器 %1 出示的证书与上次连接时不同，为安全起见没有连接。\n"
                              "如能确认服务器无误（例如刚重装过系统），请删除 %2 中该服务器的记录后再连接。")
            .arg(server, QString::fromStdString(TrustedCertificatesPlace(client.toStdString())));
    case ClientFailure::StartFailed:
        return QStringLiteral("远程桌面客户端 %1 未能启动。").arg(client);
    case ClientFailure::Other:
    case ClientFailure::None:
        break;
    }
    return QStringLiteral("连接服务器 %1 失败（远程桌面客户端 %2 的退出代码为 %3）。").arg(server, client).arg(code);
}

// Where a check off the window's thread leaves its answer: the object that takes it on the window's thread,
// while that lives.
struct PendingAnswer {
    std::mutex mutex;
    QObject* receiver = nullptr;
};

class AnswerReceiver : public QObject {
public:
    AnswerReceiver(QObject* parent, std::shared_ptr<PendingAnswer> pending)
        : QObject(parent)
        , pending_(std::move(pending)) {
        std::lock_guard lock(pending_->mutex);
        pending_->receiver = this;
    }
    ~AnswerReceiver() override {
        std::lock_guard lock(pending_->mutex);
        pending_->receiver = nullptr;
    }
    AnswerReceiver(const AnswerReceiver&) = delete;
    AnswerReceiver& operator=(const AnswerReceiver&) = delete;

private:
    std::shared_ptr<PendingAnswer> pending_;
};

// Runs `check` on a thread of its own, so that a host slow to answer never holds the window, then `done` with
// its answer on `context`'s thread; nothing once `context` has gone.
void CheckOffThread(std::function<bool()> check, QObject* context, std::function<void(bool)> done) {
    auto pending = std::make_shared<PendingAnswer>();
    auto* receiver = new AnswerReceiver(context, pending);
    const bool started = StartDetachedThread(
        [pending, check, done] {
            const bool answer = check();
            // Posted under the lock, so the receiver cannot go between the test and the post; an event posted to
            // an object that goes later goes with it.
            std::lock_guard lock(pending->mutex);
            if (pending->receiver != nullptr) {
                QMetaObject::invokeMethod(
                    pending->receiver,
                    [receiver = pending->receiver, done, answer] {
                        receiver->deleteLater();
                        done(answer);
                    },
                    Qt::QueuedConnection);
            }
        },
        kProbeStackSize);
    if (!started) {
        delete receiver;
        done(false);
    }
}

// Waits, without blocking the window, for the client to end, and says why when it failed to connect.
void WatchClient(WatchedProcess process, const ServerEntry& entry, const QString& client, QObject* context) {
    if (process.EndNotice() < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(static_cast<qintptr>(process.EndNotice()), QSocketNotifier::Read, context);
    const auto started = std::chrono::steady_clock::now();
    const int pid = process.Id();
    // The notifier's slot owns the end's handle from here on; it goes when the client has ended or the context goes.
    auto watched = std::make_shared<WatchedProcess>(std::move(process));
    QObject::connect(
        notifier, &QSocketNotifier::activated, context, [notifier, watched, pid, entry, client, started, context] {
            const std::optional<ProcessEnd> end = CollectEnd(pid);
            if (!end) {
                return;
            }
            notifier->setEnabled(false);
            notifier->deleteLater();
            const ClientFailure failure = ClientFailureOf(*end, std::chrono::steady_clock::now() - started);
            if (failure == ClientFailure::Dropped) {
                CheckOffThread(
                    [host = entry.host, port = entry.port] {
                        return ProbeEntry(host, port, kRecheckBound) == ServerStatus::Online;
                    },
                    context,
                    [entry, client, code = end->code](bool reachable) {
                        ShowWarning(FailureText(reachable ? ClientFailure::LoginDropped : ClientFailure::Unreachable,
                                                entry, client, code));
                    });
            } else if (failure != ClientFailure::None) {
                ShowWarning(FailureText(failure, entry, client, end->code));
            }
        });
}

} // namespace

void ConnectToServer(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk, QObject* context) {
    LaunchResult result = LaunchRemoteDesktop(entry, options, localDisk);
    const QString client = QFileInfo(QString::fromStdString(result.client)).fileName();
    switch (result.outcome) {
    case LaunchOutcome::Started:
        if (result.process) {
            WatchClient(std::move(*result.process), entry, client, context);
        }
        break;
    case LaunchOutcome::NoClient:
        ShowWarning(QString::fromStdString(NoClientText()));
        break;
    case LaunchOutcome::UnsafeValue:
        ShowWarning(QStringLiteral("服务器 %1 的“%2”中含有换行或空字符，不能写入连接文件，没有连接。\n"
                                   "请用“修改”改正后再连接。")
                        .arg(EntryName(entry), BoxName(result.unsafeField)));
        break;
    case LaunchOutcome::NoFile:
        ShowWarning(QString::fromStdString(NoFileText()));
        break;
    case LaunchOutcome::Failed:
        if (result.failure) {
            Log::Failure("servers", "the remote desktop client did not start", *result.failure);
        }
        ShowWarning(FailureText(ClientFailure::StartFailed, entry, client, 0));
        break;
    }
}
