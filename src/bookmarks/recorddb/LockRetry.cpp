#include "bookmarks/recorddb/LockRetry.h"

namespace RecordDb {

Platform::LockResult RetryWhileBusy(int waitMs, const std::function<Platform::LockResult()>& attempt) {
    const std::uint64_t start = Platform::TickMs();
    for (;;) {
        const Platform::LockResult result = attempt();
        if (result != Platform::LockResult::Busy || waitMs == 0) {
            return result;
        }
        const std::uint64_t now = Platform::TickMs();
        if (waitMs > 0 && now - start >= static_cast<std::uint64_t>(waitMs)) {
            return result;
        }
        // The tick's low digits spread the retries of processes that collided at the same moment.
        Platform::SleepMs(20 + static_cast<int>(now % 20));
    }
}

} // namespace RecordDb
