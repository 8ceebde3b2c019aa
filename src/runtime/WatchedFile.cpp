#include "runtime/WatchedFile.h"

#include <QApplication>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QTimer>
#include <atomic>
#include <mutex>

namespace {

std::atomic<bool> noticesEnabled{true};

} // namespace

// Hands what the poll's thread read to the window's thread; once the watch is gone it drops it.
class WatchedFile::Relay {
public:
    explicit Relay(WatchedFile* watch)
        : watch_(watch) {}

    void Post(std::any content) {
        std::lock_guard lock(mutex_);
        if (watch_ != nullptr) {
            // A watch deleted before the call runs takes the pending call with it.
            QMetaObject::invokeMethod(
                watch_, [watch = watch_, content = std::move(content)] { watch->Deliver(content); },
                Qt::QueuedConnection);
        }
    }

    void Detach() {
        std::lock_guard lock(mutex_);
        watch_ = nullptr;
    }

private:
    std::mutex mutex_;
    WatchedFile* watch_;
};

void WatchedFile::SetNoticesEnabled(bool enabled) {
    noticesEnabled = enabled;
}

WatchedFile::WatchedFile(std::string path, std::function<std::any()> read, QObject* parent,
                         std::optional<FileStamp> known)
    : QObject(parent)
    , path_(std::move(path))
    , relay_(std::make_shared<Relay>(this))
    , waitForDialogs_(new QTimer(this)) {
    waitForDialogs_->setInterval(std::chrono::milliseconds(250));
    connect(waitForDialogs_, &QTimer::timeout, this, [this] {
        if (QApplication::activeModalWidget() == nullptr && QApplication::activePopupWidget() == nullptr) {
            waitForDialogs_->stop();
            // What was read meanwhile may be older than a save the dialog led to.
            ReadAgain();
        }
    });
    poll_ = std::make_unique<StampPoll>(
        path_, kPollInterval,
        [relay = relay_, read = std::move(read)](const FileStamp&) { relay->Post(read ? read() : std::any()); }, known);
    if (noticesEnabled) {
        notices_ = new QFileSystemWatcher(this);
        // A save replaces the file by a rename, which ends the watch on the file; the directory's notice comes
        // for the rename, and the file is watched anew.
        const auto look = [this] {
            WatchPaths();
            poll_->LookNow();
        };
        connect(notices_, &QFileSystemWatcher::fileChanged, this, look);
        connect(notices_, &QFileSystemWatcher::directoryChanged, this, look);
        WatchPaths();
    }
}

WatchedFile::~WatchedFile() {
    relay_->Detach();
}

void WatchedFile::WatchPaths() {
    const QString file = QString::fromStdString(path_);
    const QString directory = QFileInfo(file).absolutePath();
    if (!notices_->directories().contains(directory)) {
        notices_->addPath(directory);
    }
    if (!notices_->files().contains(file) && QFileInfo::exists(file)) {
        notices_->addPath(file);
    }
}

void WatchedFile::Deliver(const std::any& content) {
    if (QApplication::activeModalWidget() != nullptr || QApplication::activePopupWidget() != nullptr) {
        waitForDialogs_->start();
        return;
    }
    Q_EMIT Changed(content);
}

void WatchedFile::Seen() {
    poll_->Seen(StampOf(path_));
}

void WatchedFile::ReadAgain() {
    poll_->Forget();
    poll_->LookNow();
}
