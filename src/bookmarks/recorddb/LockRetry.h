#pragma once

#include "bookmarks/recorddb/Platform.h"

#include <functional>

namespace RecordDb {

// Repeats `attempt` while another open blocks it, sleeping 20 to 39 ms between tries, until `waitMs` has passed
// since the first try (0: no retry, -1: no limit). Returns the last attempt's result.
Platform::LockResult RetryWhileBusy(int waitMs, const std::function<Platform::LockResult()>& attempt);

} // namespace RecordDb
