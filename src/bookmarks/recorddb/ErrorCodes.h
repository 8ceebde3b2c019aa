#pragma once

#include <string>

// The engine's result codes: 0 for success, otherwise negative. Messages are GBK.
namespace RecordDb {

inline constexpr int kOk = 0;

// File errors.
inline constexpr int kErrFileGeneric = -1;
inline constexpr int kErrFileNotFound = -3;
inline constexpr int kErrBadPath = -4;
inline constexpr int kErrTooManyOpenFiles = -5;
inline constexpr int kErrAccessDenied = -6;
inline constexpr int kErrInvalidFile = -7;
inline constexpr int kErrSeek = -10;
inline constexpr int kErrHardware = -11;
inline constexpr int kErrSharingViolation = -12;
inline constexpr int kErrLockViolation = -13;
inline constexpr int kErrDiskFull = -14;

// Engine errors.
inline constexpr int kErrOpenFailed = -21;
inline constexpr int kErrNotDatabase = -22;
inline constexpr int kErrVersionTooHigh = -23;
inline constexpr int kErrBeforeFirst = -25;
inline constexpr int kErrAfterLast = -26;
inline constexpr int kErrLockFailed = -28;
inline constexpr int kErrIndexOpenFailed = -30;
inline constexpr int kErrNotIndexFile = -31;
inline constexpr int kErrTooManyIndexes = -34;
inline constexpr int kErrMemoReadFailed = -35;
inline constexpr int kErrNotMemoFile = -37;
inline constexpr int kErrAlreadyOpen = -38;
inline constexpr int kErrReadFieldFailed = -46;
inline constexpr int kErrWriteFieldFailed = -47;
inline constexpr int kErrFileSize = -48;
inline constexpr int kErrMemoAccessFailed = -59;
inline constexpr int kErrNoCurrentRecord = -60;
inline constexpr int kErrNoSuchField = -61;
inline constexpr int kErrReadRecordFailed = -62;
inline constexpr int kErrWriteRecordFailed = -63;
inline constexpr int kErrRecordCountFailed = -65;
inline constexpr int kErrNotOpen = -66;
inline constexpr int kErrNoCurrentTable = -67;
inline constexpr int kErrTypeMismatch = -72;
inline constexpr int kErrPassword = -78;

// The calling thread's code of its last operation.
int LastError();
void SetLastError(int code);

// The message for a code: empty for 0, "未知错误" for a code without one.
const std::string& ErrorMessage(int code);

} // namespace RecordDb
