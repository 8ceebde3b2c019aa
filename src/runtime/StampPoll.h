#pragma once

#include "runtime/Files.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

// Watches a file by its stamp from a thread of its own, every `interval` and whenever asked, and calls `changed`
// on that thread with the new stamp when it differs from the last one seen. File system notices do not come
// from network shares, and a look at a file on a hung share would stall whoever makes it: hence the thread.
class StampPoll {
public:
    // `known` is the stamp of the version the caller holds, taken before it read the file, so that a change
    // made between that read and the thread's first look is reported; without it the first look learns it.
    StampPoll(std::string path, std::chrono::milliseconds interval, std::function<void(const FileStamp&)> changed,
              std::optional<FileStamp> known = std::nullopt);
    // Stops the thread; one stuck in a look at a hung share is left to end by itself.
    ~StampPoll();
    StampPoll(const StampPoll&) = delete;
    StampPoll& operator=(const StampPoll&) = delete;

    // Looks at once rather than at the next interval.
    void LookNow();
    // Takes `stamp` as seen, as after this process's own write.
    void Seen(const FileStamp& stamp);
    // Forgets the stamp last seen, so that the next look reports the file whatever it holds.
    void Forget();

private:
    struct Shared;
    std::shared_ptr<Shared> shared_;
};
