#include "bookmarks/recorddb/ErrorCodes.h"
#include "bookmarks/recorddb/Platform.h"
#include "runtime/FileDescriptorPosix.h"

#include <cerrno>
#include <climits>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace RecordDb::Platform {

namespace {

// Share-mode markers live this far into the file's lock space: no record or header lock can ever reach them.
// Each marker byte is held with a shared lock by every open that has that access or denies it.
constexpr off_t kShareBase = 0x7FFFFFFFFFFFFF00;
constexpr off_t kHasRead = kShareBase + 0;
constexpr off_t kHasWrite = kShareBase + 1;
constexpr off_t kDeniesRead = kShareBase + 2;
constexpr off_t kDeniesWrite = kShareBase + 3;

int CodeForErrno(int error) {
    switch (error) {
    case ENOENT:
        return kErrFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
        return kErrBadPath;
    case EMFILE:
    case ENFILE:
        return kErrTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
        return kErrAccessDenied;
    case EBADF:
        return kErrInvalidFile;
    case ESPIPE:
    case EOVERFLOW:
        return kErrSeek;
    case EIO:
        return kErrHardware;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return kErrDiskFull;
    case EAGAIN:
        return kErrLockViolation;
    default:
        return kErrFileGeneric;
    }
}

struct flock Range(short type, off_t offset, off_t length) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = offset;
    range.l_len = length;
    return range;
}

int Fcntl(int file, int command, struct flock* range) {
    int result;
    do {
        result = ::fcntl(file, command, range);
    } while (result < 0 && errno == EINTR);
    return result;
}

// True when an open other than `file` holds any lock on the marker byte.
bool OtherHolds(FileHandle file, off_t marker) {
    struct flock probe = Range(F_WRLCK, marker, 1);
    return Fcntl(file, F_OFD_GETLK, &probe) == 0 && probe.l_type != F_UNLCK;
}

} // namespace

int LastFileErrorCode() {
    return CodeForErrno(errno);
}

bool IsPathSeparator(char c) {
    return c == '/';
}

std::optional<std::string> FullPath(std::string_view name, int& error) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        error = kErrBadPath;
        return std::nullopt;
    }
    std::filesystem::path path(name);
    if (!path.is_absolute()) {
        std::error_code failed;
        path = std::filesystem::current_path(failed) / path;
        if (failed) {
            error = kErrBadPath;
            return std::nullopt;
        }
    }
    std::string full = path.lexically_normal().string();
    if (full.size() >= PATH_MAX) {
        error = kErrBadPath;
        return std::nullopt;
    }
    return full;
}

FileHandle OpenExisting(const std::string& path, bool readOnly, int& error) {
    // Non-blocking so that a FIFO planted under the table's name cannot hang the open.
    FileDescriptor file(::open(path.c_str(), (readOnly ? O_RDONLY : O_RDWR) | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.Get() < 0) {
        error = LastFileErrorCode();
        return kNoFile;
    }
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        error = kErrAccessDenied;
        return kNoFile;
    }
    ::fcntl(file.Get(), F_SETFL, ::fcntl(file.Get(), F_GETFL) & ~O_NONBLOCK);
    return file.Release();
}

void CloseFile(FileHandle file) {
    if (file != kNoFile) {
        ::close(file);
    }
}

std::optional<FileIdentity> IdentityOf(FileHandle file) {
    struct stat info {};
    if (::fstat(file, &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    return FileIdentity{static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino)};
}

std::int64_t ReadAt(FileHandle file, void* data, std::size_t size, std::int64_t offset) {
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got =
            ::pread(file, bytes + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

bool WriteAt(FileHandle file, const void* data, std::size_t size, std::int64_t offset, int& error,
             std::size_t* written) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const ssize_t put =
            ::pwrite(file, bytes + done, size - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            error = put < 0 ? LastFileErrorCode() : kErrDiskFull;
            if (written != nullptr) {
                *written = done;
            }
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    if (written != nullptr) {
        *written = done;
    }
    return true;
}

std::optional<std::int64_t> FileLength(FileHandle file) {
    struct stat info {};
    if (::fstat(file, &info) != 0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(info.st_size);
}

bool SetFileLength(FileHandle file, std::int64_t length) {
    int result;
    do {
        result = ::ftruncate(file, static_cast<off_t>(length));
    } while (result < 0 && errno == EINTR);
    return result == 0;
}

LockResult LockRange(FileHandle file, std::int64_t offset, std::int64_t length, bool exclusive) {
    struct flock range = Range(exclusive ? F_WRLCK : F_RDLCK, static_cast<off_t>(offset), static_cast<off_t>(length));
    if (Fcntl(file, F_OFD_SETLK, &range) == 0) {
        return LockResult::Taken;
    }
    switch (errno) {
    case EAGAIN:
    case EACCES:
        return LockResult::Busy;
    case EOPNOTSUPP:
        return LockResult::Unsupported;
    default:
        return LockResult::Failed;
    }
}

void UnlockRange(FileHandle file, std::int64_t offset, std::int64_t length) {
    struct flock range = Range(F_UNLCK, static_cast<off_t>(offset), static_cast<off_t>(length));
    Fcntl(file, F_OFD_SETLK, &range);
}

ShareResult ClaimShareMode(FileHandle file, bool write, bool denyRead, bool denyWrite) {
    const off_t markers[] = {kHasRead, write ? kHasWrite : -1, denyRead ? kDeniesRead : -1,
                             denyWrite ? kDeniesWrite : -1};
    auto releaseAll = [&] {
        for (const off_t marker : markers) {
            if (marker >= 0) {
                UnlockRange(file, marker, 1);
            }
        }
    };
    // Every open first shows what it has and denies, then looks at the others: of two conflicting opens racing
    // each other, the later look always sees the earlier mark, so both can fail but never both succeed.
    for (const off_t marker : markers) {
        if (marker < 0) {
            continue;
        }
        switch (LockRange(file, marker, 1, false)) {
        case LockResult::Taken:
            break;
        case LockResult::Unsupported:
            releaseAll();
            return ShareResult::Granted;
        case LockResult::Busy:
        case LockResult::Failed:
            releaseAll();
            return ShareResult::Failed;
        }
    }
    const bool conflict = OtherHolds(file, kDeniesRead) || (write && OtherHolds(file, kDeniesWrite)) ||
                          (denyRead && OtherHolds(file, kHasRead)) || (denyWrite && OtherHolds(file, kHasWrite));
    if (conflict) {
        releaseAll();
        return ShareResult::Violation;
    }
    return ShareResult::Granted;
}

std::uint64_t TickMs() {
    struct timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000000;
}

void SleepMs(int milliseconds) {
    struct timespec wait {
        milliseconds / 1000, static_cast<long>(milliseconds % 1000) * 1000000
    };
    while (::nanosleep(&wait, &wait) != 0 && errno == EINTR) {
    }
}

} // namespace RecordDb::Platform
