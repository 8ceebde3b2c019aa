#pragma once

#include "runtime/Bytes.h"
#include "runtime/Result.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <sys/types.h>

// Files larger than this are refused rather than read: nothing the program keeps comes near it.
inline constexpr std::size_t kReadLimit = std::size_t{64} << 20;

// A whole file (possibly empty), or why it could not be read: missing (IsMissing), or there but not readable
// whole (permissions, an I/O error, not a regular file, too large).
using FileRead = Result<Bytes>;

// Whether the read failed because no file of that name is there.
[[nodiscard]] inline bool IsMissing(const FileRead& read) {
    return !read && read.Reason() == std::errc::no_such_file_or_directory;
}

// What joins a directory and a name on this platform.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// What tells one version of a file from another without reading it: a save that replaces the file changes its
// identity, one that writes in place its size or times. Compared, never interpreted.
struct FileStamp {
    bool exists = false;
    std::uint64_t size = 0;
    std::uint64_t modified = 0;
    std::uint64_t changed = 0;
    std::uint64_t volume = 0;
    std::uint64_t file = 0;

    bool operator==(const FileStamp&) const = default;
};

// The stamp of the file `path` (through its links) names; `exists` is false when there is none.
[[nodiscard]] FileStamp StampOf(const std::string& path);

// Whether every symbolic link on the way from `path` to its file belongs to this user or to the system's
// administrator, as a link another user planted in a shared directory does not. A link is only followed then.
[[nodiscard]] bool LinksAreTrusted(const std::string& path);

// Whether anything, even a dangling link, is there under `path`.
[[nodiscard]] bool PathExists(const std::string& path);

// Writes or reads all `size` bytes, going on after interrupted calls; a failure on an error or an early end (an
// I/O error).
Result<void> WriteAll(int fd, const void* data, std::size_t size);
Result<void> ReadExactly(int fd, void* data, std::size_t size);

// Reads a whole regular file without ever blocking on the open (a FIFO under the name is refused).
[[nodiscard]] FileRead ReadFile(const std::string& path, std::size_t limit = kReadLimit);

// The whole file as bytes; a file that is missing, unreadable or empty gives an empty byte set.
[[nodiscard]] Bytes ReadWholeFile(const std::string& path);

// The path a chain of symbolic links ends at (the path itself when it is no link); the end need not exist.
[[nodiscard]] std::string FollowLinks(const std::string& path);

// Whether `path` (through its links) may be replaced: it exists and this user may write it, or it is missing.
// Otherwise the reason it may not (no access, read-only).
Result<void> MayReplace(const std::string& path);

// Replaces `path` with `data` so that either the old or the new content survives a crash or a full disk:
// the bytes go to a temporary file beside the file the path's links end at, which is flushed, given `mode`
// and renamed over it. A file this user may not write is left alone. A failure when anything failed; the old
// file is then untouched.
Result<void> ReplaceFileAtomically(const std::string& path, const Bytes& data, mode_t mode);

// Removes the temporary files that replacements of `path` left behind when they were killed midway.
void RemoveStaleTemporaries(const std::string& path);
