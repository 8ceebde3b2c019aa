#pragma once

#include "bookmarks/recorddb/Platform.h"

#include <cstdint>
#include <vector>

namespace RecordDb {

// The byte-range locks one open table holds, counted, so that taking a lock it already has only raises the
// count and the file lock goes when the count is back at zero. A table that shares its file with nobody holds
// none and every request succeeds at once.
class LockSet {
public:
    // The whole-file lock covers bytes 0 to 0x7FFFFFFE.
    static constexpr std::int64_t kWholeFileLength = 0x7FFFFFFF;

    LockSet(Platform::FileHandle file, bool writable, bool enabled);

    // kOk, or the code of the failure after waiting up to `waitMs` for other opens to let go.
    int LockByte(std::int64_t offset, int waitMs);
    void UnlockByte(std::int64_t offset);
    int LockWholeFile(int waitMs);
    void UnlockWholeFile();

private:
    struct Held {
        std::int64_t offset;
        int count;
    };

    int Acquire(std::int64_t offset, std::int64_t length, int waitMs);
    bool CoveredByWholeFile(std::int64_t offset) const { return wholeFileCount_ > 0 && offset < kWholeFileLength; }

    Platform::FileHandle file_;
    bool writable_;
    bool enabled_;
    std::vector<Held> bytes_; // sorted by offset
    int wholeFileCount_ = 0;
};

} // namespace RecordDb
