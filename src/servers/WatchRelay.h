#pragma once

#include "servers/ServerWatch.h"

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

class QObject;

// Carries probe results from the workers to the window's thread. Workers share it, so it outlives the window
// that takes the results; once that is gone it drops whatever still arrives.
class WatchRelay {
public:
    // `deliver` runs on `context`'s thread, only while `context` lives.
    WatchRelay(QObject* context, std::function<void(const WatchReport&)> deliver);

    // From any thread.
    void Post(WatchReport report);
    // On the window's thread, before `context` goes: from then on nothing is delivered.
    void Detach();

private:
    static constexpr std::size_t kReportBatch = 100;

    // The oldest reports, at most a batch of them; another call is posted for the rest, so the window gets its
    // own events in between.
    std::vector<WatchReport> Take();
    void PostTake();

    std::mutex mutex_;
    QObject* context_;
    std::function<void(const WatchReport&)> deliver_;
    std::deque<WatchReport> reports_;
};
