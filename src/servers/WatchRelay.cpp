#include "servers/WatchRelay.h"

#include <QMetaObject>
#include <QObject>
#include <algorithm>

WatchRelay::WatchRelay(QObject* context, std::function<void(const WatchReport&)> deliver)
    : context_(context)
    , deliver_(std::move(deliver)) {}

void WatchRelay::Post(WatchReport report) {
    // Results are queued and taken in batches: a pass over a thousand entries ends within a few milliseconds,
    // and one call per result would hold the window for all of them at once.
    std::lock_guard lock(mutex_);
    if (context_ == nullptr) {
        return;
    }
    reports_.push_back(std::move(report));
    if (reports_.size() == 1) {
        PostTake();
    }
}

std::vector<WatchReport> WatchRelay::Take() {
    std::lock_guard lock(mutex_);
    const auto end = reports_.begin() + static_cast<std::ptrdiff_t>(std::min(reports_.size(), kReportBatch));
    std::vector<WatchReport> taken(std::make_move_iterator(reports_.begin()), std::make_move_iterator(end));
    reports_.erase(reports_.begin(), end);
    if (!reports_.empty() && context_ != nullptr) {
        PostTake();
    }
    return taken;
}

void WatchRelay::Detach() {
    std::lock_guard lock(mutex_);
    context_ = nullptr;
}

void WatchRelay::PostTake() {
    // A context deleted before the call runs takes the pending call with it, and the relay outlives its context.
    QMetaObject::invokeMethod(
        context_,
        [this] {
            for (const WatchReport& report : Take()) {
                deliver_(report);
            }
        },
        Qt::QueuedConnection);
}
