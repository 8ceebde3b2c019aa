#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The operating-system calls the engine makes, each behind one small function, so another platform can supply
// its own implementation file without touching the engine. Failures come back as the engine's file error codes.
namespace RecordDb::Platform {

using FileHandle = int;
inline constexpr FileHandle kNoFile = -1;

// What makes two names the same file.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    bool operator==(const FileIdentity&) const = default;
};

// The engine's code for the calling thread's last system error.
int LastFileErrorCode();

// True for the character that separates directories in a path.
bool IsPathSeparator(char c);

// The absolute, lexically normalised form of `name`; nullopt (with `error` set) when it cannot be formed.
std::optional<std::string> FullPath(std::string_view name, int& error);

// Opens an existing file, never creating it. kNoFile with `error` set on failure.
FileHandle OpenExisting(const std::string& path, bool readOnly, int& error);
void CloseFile(FileHandle file);

std::optional<FileIdentity> IdentityOf(FileHandle file);
std::optional<FileIdentity> IdentityOfPath(const std::string& path);

// Reads up to `size` bytes at `offset`, stopping early only at the end of the file. -1 on an error.
std::int64_t ReadAt(FileHandle file, void* data, std::size_t size, std::int64_t offset);
// Writes all `size` bytes at `offset`; false (with `error` set) otherwise. `written` tells how far a failed
// write got, front to back.
bool WriteAt(FileHandle file, const void* data, std::size_t size, std::int64_t offset, int& error,
             std::size_t* written = nullptr);
std::optional<std::int64_t> FileLength(FileHandle file);
bool SetFileLength(FileHandle file, std::int64_t length);

enum class LockResult { Taken, Busy, Unsupported, Failed };

// A byte-range lock that belongs to the open file, not to the process or thread. A file opened read-only can
// only hold shared locks, which still exclude every writer's exclusive ones.
LockResult LockRange(FileHandle file, std::int64_t offset, std::int64_t length, bool exclusive);
void UnlockRange(FileHandle file, std::int64_t offset, std::int64_t length);

enum class ShareResult { Granted, Violation, Failed };

// Claims the open's access and share mode against every other open of the same file, as the platform's share
// modes would: an open is refused when it denies an access another open holds, or wants one another denies.
ShareResult ClaimShareMode(FileHandle file, bool write, bool denyRead, bool denyWrite);

// A millisecond tick for lock retries, and a sleep.
std::uint64_t TickMs();
void SleepMs(int milliseconds);

} // namespace RecordDb::Platform
