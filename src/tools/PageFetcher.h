#pragma once

#include "runtime/HttpFetch.h"

#include <QObject>
#include <atomic>
#include <functional>
#include <string>
#include <thread>

// Fetches one lookup page at a time on a thread of its own, so the window keeps painting while the page
// answers, and hands the page text to the user-interface thread. Going away cancels a fetch still running.
class PageFetcher : public QObject {
    Q_OBJECT

public:
    using Done = std::function<void(const std::string& pageText)>;

    explicit PageFetcher(QObject* parent = nullptr);
    ~PageFetcher() override;

    // Starts fetching `address`; `done` runs on this object's thread with the converted page text (empty on
    // any failure). Returns false, and does nothing, while a fetch is still running.
    bool Start(const std::string& address, Done done);
    bool Busy() const { return busy_; }

    // Bounds of every fetch; tests shorten them.
    void SetLimits(const HttpLimits& limits) { limits_ = limits; }

private:
    void Finish(const std::string& pageText);

    HttpLimits limits_;
    std::thread worker_;
    std::atomic<bool> cancel_{false};
    bool busy_ = false;
    Done done_;
};
