#include "runtime/StampPoll.h"

#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>

struct StampPoll::Shared {
    std::string path;
    std::chrono::milliseconds interval;
    std::function<void(const FileStamp&)> changed;

    std::mutex mutex;
    std::condition_variable wake;
    bool stop = false;
    bool lookNow = false;
    bool ended = false;
    std::condition_variable endedSignal;
    std::optional<FileStamp> seen;

    void Run() {
        std::unique_lock lock(mutex);
        // The first look learns what is there, off the caller's thread: the file may sit on a slow share.
        if (!seen) {
            seen = StampOfUnlocked(lock);
        }
        while (!stop) {
            wake.wait_for(lock, interval, [this] { return stop || lookNow; });
            if (stop) {
                break;
            }
            lookNow = false;
            const FileStamp stamp = StampOfUnlocked(lock);
            if (stop || (seen && *seen == stamp)) {
                continue;
            }
            seen = stamp;
            lock.unlock();
            changed(stamp);
            lock.lock();
        }
        ended = true;
        endedSignal.notify_all();
    }

    // The look itself runs without the lock, so that asking for a look never waits on a slow file system.
    FileStamp StampOfUnlocked(std::unique_lock<std::mutex>& lock) {
        lock.unlock();
        FileStamp stamp = StampOf(path);
        lock.lock();
        return stamp;
    }
};

StampPoll::StampPoll(std::string path, std::chrono::milliseconds interval,
                     std::function<void(const FileStamp&)> changed, std::optional<FileStamp> known)
    : shared_(std::make_shared<Shared>()) {
    shared_->path = std::move(path);
    shared_->interval = interval;
    shared_->changed = std::move(changed);
    shared_->seen = known;
    std::thread([shared = shared_] { shared->Run(); }).detach();
}

StampPoll::~StampPoll() {
    std::unique_lock lock(shared_->mutex);
    shared_->stop = true;
    shared_->wake.notify_all();
    // Whatever the thread still touches it holds itself; waiting only keeps a normal end tidy.
    shared_->endedSignal.wait_for(lock, std::chrono::seconds(1), [this] { return shared_->ended; });
}

void StampPoll::LookNow() {
    std::lock_guard lock(shared_->mutex);
    shared_->lookNow = true;
    shared_->wake.notify_all();
}

void StampPoll::Seen(const FileStamp& stamp) {
    std::lock_guard lock(shared_->mutex);
    shared_->seen = stamp;
}

void StampPoll::Forget() {
    std::lock_guard lock(shared_->mutex);
    shared_->seen.reset();
}
