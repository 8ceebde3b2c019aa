#pragma once

namespace RecordDb {

// What an open lets other opens of the same file do at the same time.
enum class ShareMode {
    DenyNone,
    DenyRead,
    DenyWrite,
    Exclusive,
};

} // namespace RecordDb
