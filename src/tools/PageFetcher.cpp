#include "tools/PageFetcher.h"

#include "runtime/Log.h"
#include "tools/IpLookup.h"

PageFetcher::PageFetcher(QObject* parent)
    : QObject(parent) {}

PageFetcher::~PageFetcher() {
    // The worker may still post its answer to this object; joining first means the post happens before the
    // object goes, and Qt drops events posted to a destroyed object.
    cancel_ = true;
    if (worker_.joinable()) {
        worker_.join();
    }
}

bool PageFetcher::Start(const std::string& address, Done done) {
    if (busy_) {
        return false;
    }
    if (worker_.joinable()) {
        worker_.join(); // finished already: its answer has been delivered
    }
    busy_ = true;
    done_ = std::move(done);
    worker_ = std::thread([this, address, limits = limits_] {
        const HttpReply reply = HttpGet(address, limits, &cancel_);
        // A cancel is the page's own doing, not a failure anybody needs to hear of.
        if (!reply.outcome && reply.outcome.Reason() != std::errc::operation_canceled) {
            Log::Failure("tools", "the lookup page gave no answer", reply.outcome.error());
        }
        std::string pageText = IpLookup::PageTextOf(reply.body);
        QMetaObject::invokeMethod(
            this, [this, text = std::move(pageText)] { Finish(text); }, Qt::QueuedConnection);
    });
    return true;
}

void PageFetcher::Finish(const std::string& pageText) {
    busy_ = false;
    // The callback may start the next fetch, so it is moved out first.
    Done done = std::move(done_);
    done_ = nullptr;
    if (done) {
        done(pageText);
    }
}
