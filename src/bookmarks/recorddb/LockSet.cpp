#include "bookmarks/recorddb/LockSet.h"

#include "bookmarks/recorddb/ErrorCodes.h"
#include "bookmarks/recorddb/LockRetry.h"

#include <algorithm>

namespace RecordDb {

LockSet::LockSet(Platform::FileHandle file, bool writable, bool enabled)
    : file_(file)
    , writable_(writable)
    , enabled_(enabled) {}

int LockSet::Acquire(std::int64_t offset, std::int64_t length, int waitMs) {
    auto attempt = [&] { return Platform::LockRange(file_, offset, length, writable_); };
    Platform::LockResult result = attempt();
    if (result == Platform::LockResult::Busy && waitMs != 0) {
        result = RetryWhileBusy(waitMs, attempt);
    }
    switch (result) {
    case Platform::LockResult::Taken:
    case Platform::LockResult::Unsupported:
        return kOk;
    case Platform::LockResult::Busy:
        return kErrLockViolation;
    case Platform::LockResult::Failed:
        break;
    }
    return kErrLockFailed;
}

int LockSet::LockByte(std::int64_t offset, int waitMs) {
    if (!enabled_) {
        return kOk;
    }
    const auto at = std::lower_bound(bytes_.begin(), bytes_.end(), offset,
                                     [](const Held& held, std::int64_t value) { return held.offset < value; });
    if (at != bytes_.end() && at->offset == offset) {
        ++at->count;
        return kOk;
    }
    // Inside our own whole-file lock the byte is already ours; counting it keeps it locked once that goes.
    if (!CoveredByWholeFile(offset)) {
        if (const int code = Acquire(offset, 1, waitMs); code != kOk) {
            return code;
        }
    }
    bytes_.insert(at, Held{offset, 1});
    return kOk;
}

void LockSet::UnlockByte(std::int64_t offset) {
    if (!enabled_) {
        return;
    }
    const auto at = std::lower_bound(bytes_.begin(), bytes_.end(), offset,
                                     [](const Held& held, std::int64_t value) { return held.offset < value; });
    if (at == bytes_.end() || at->offset != offset) {
        return;
    }
    if (--at->count > 0) {
        return;
    }
    bytes_.erase(at);
    if (!CoveredByWholeFile(offset)) {
        Platform::UnlockRange(file_, offset, 1);
    }
}

int LockSet::LockWholeFile(int waitMs) {
    if (!enabled_) {
        return kOk;
    }
    if (wholeFileCount_ > 0) {
        ++wholeFileCount_;
        return kOk;
    }
    // Locks of one open file merge, so the bytes it already holds need no gap here.
    if (const int code = Acquire(0, kWholeFileLength, waitMs); code != kOk) {
        return code;
    }
    wholeFileCount_ = 1;
    return kOk;
}

void LockSet::UnlockWholeFile() {
    if (!enabled_ || wholeFileCount_ == 0 || --wholeFileCount_ > 0) {
        return;
    }
    // Release everything but the single bytes still held on their own.
    std::int64_t from = 0;
    for (const Held& held : bytes_) {
        if (held.offset >= kWholeFileLength) {
            break;
        }
        if (held.offset > from) {
            Platform::UnlockRange(file_, from, held.offset - from);
        }
        from = held.offset + 1;
    }
    if (from < kWholeFileLength) {
        Platform::UnlockRange(file_, from, kWholeFileLength - from);
    }
}

} // namespace RecordDb
