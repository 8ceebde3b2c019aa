#include "runtime/Files.h"

#include "runtime/FileDescriptorPosix.h"
#include "runtime/LastErrorPosix.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A temporary file is named after the file it replaces, then this, then the six letters and digits mkostemp
// fills in. The word keeps the clean-up away from names a user might choose, such as "ms.ini.backup".
constexpr std::string_view kTemporaryInfix = ".saving-";
constexpr std::size_t kTemporaryRandomLength = 6;

std::string DirectoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool IsTemporaryName(const std::string& name, const std::string& base) {
    const std::size_t randomFrom = base.size() + kTemporaryInfix.size();
    if (name.size() != randomFrom + kTemporaryRandomLength || name.compare(0, base.size(), base) != 0 ||
        name.compare(base.size(), kTemporaryInfix.size(), kTemporaryInfix) != 0) {
        return false;
    }
    for (std::size_t i = randomFrom; i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// A temporary file under a writer's lock: a cleaner that gets the lock knows its writer is gone. On failure the
// descriptor is -1 and errno tells why.
FileDescriptor CreateLockedTemporary(std::string& name) {
    // Unless a lock fails, every file made was taken by a cleaner before it could be locked.
    int error = EEXIST;
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string candidate = name + std::string(kTemporaryInfix) + std::string(kTemporaryRandomLength, 'X');
        FileDescriptor fd(::mkostemp(candidate.data(), O_CLOEXEC));
        if (fd.Get() < 0) {
            return fd;
        }
        struct stat info {};
        if (::flock(fd.Get(), LOCK_EX) != 0 || ::fstat(fd.Get(), &info) != 0) {
            error = errno;
            continue;
        }
        // A cleaner may have taken the file between its creation and the lock; then take another.
        if (info.st_nlink > 0) {
            name = std::move(candidate);
            return fd;
        }
    }
    errno = error;
    return FileDescriptor(-1);
}

// The next path of a chain of links: where the link `current` points, or nullopt when it is no link.
std::optional<std::string> NextLink(const std::string& current) {
    char target[PATH_MAX];
    const ssize_t length = ::readlink(current.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) >= sizeof target) {
        return std::nullopt;
    }
    const std::string next(target, static_cast<std::size_t>(length));
    return next.front() == '/' ? next : DirectoryOf(current) + "/" + next;
}

// The kernel's own bound on a chain of links; a loop ends here and then fails at the write.
constexpr int kMostLinks = 40;

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

} // namespace

Result<void> WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, bytes, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return LastError();
        }
        if (written == 0) {
            return Fail(std::errc::io_error);
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return {};
}

Result<void> ReadExactly(int fd, void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const ssize_t got = ::read(fd, bytes, size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return LastError();
        }
        if (got == 0) {
            return Fail(std::errc::io_error);
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return {};
}

namespace {

FileRead ReadFileAt(const std::string& path, std::size_t limit) {
    // Non-blocking, so that a FIFO or a device under the name cannot hang the open.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (fd.Get() < 0) {
        return LastError();
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return LastError();
    }
    if (!S_ISREG(info.st_mode)) {
        return Fail(S_ISDIR(info.st_mode) ? std::errc::is_a_directory : std::errc::invalid_argument);
    }
    if (static_cast<std::size_t>(info.st_size) > limit) {
        return Fail(std::errc::file_too_large);
    }
    // Read straight into the buffer; the file may still grow or shrink while it is read.
    Bytes data(static_cast<std::size_t>(info.st_size) + 1);
    std::size_t size = 0;
    for (;;) {
        if (size == data.size()) {
            if (size > limit) {
                return Fail(std::errc::file_too_large);
            }
            data.resize(data.size() * 2);
        }
        const ssize_t got = ::read(fd.Get(), data.data() + size, data.size() - size);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return LastError();
        }
        if (got == 0) {
            data.resize(size);
            return data;
        }
        size += static_cast<std::size_t>(got);
    }
}

} // namespace

FileRead ReadFile(const std::string& path, std::size_t limit) {
    return ReadFileAt(path, limit).Doing("reading " + path);
}

Bytes ReadWholeFile(const std::string& path) {
    return ReadFile(path).value_or(Bytes());
}

std::string FollowLinks(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMostLinks; ++hop) {
        std::optional<std::string> next = NextLink(current);
        if (!next) {
            break;
        }
        current = std::move(*next);
    }
    return current;
}

Result<void> MayReplace(const std::string& path) {
    const std::string target = FollowLinks(path);
    return OutcomeOf(::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0 || errno == ENOENT);
}

namespace {

Result<void> ReplaceFileAt(const std::string& path, const Bytes& data, mode_t mode) {
    // A link another user planted in a shared directory would have us write our secrets over a file of theirs
    // choosing, so such a link is never followed.
    if (!LinksAreTrusted(path)) {
        return Fail(std::errc::permission_denied);
    }
    // Replace the file a link names, so the link keeps working and a dangling one gets its file.
    const std::string target = FollowLinks(path);
    if (Result<void> allowed = MayReplace(target); !allowed) {
        return allowed;
    }
    RemoveStaleTemporaries(target);
    std::string temporary = target;
    FileDescriptor fd = CreateLockedTemporary(temporary);
    if (fd.Get() < 0) {
        return LastError();
    }
    // The lock is held until the rename, so that no other instance's clean-up removes the file first.
    Result<void> written = OutcomeOf(::fchmod(fd.Get(), mode) == 0);
    if (written) {
        written = WriteAll(fd.Get(), data.data(), data.size());
    }
    if (written) {
        written = OutcomeOf(::fsync(fd.Get()) == 0);
    }
    if (written) {
        written = OutcomeOf(::rename(temporary.c_str(), target.c_str()) == 0);
    }
    if (!written) {
        ::unlink(temporary.c_str());
        return written;
    }
    fd.Close();
    // Make the rename itself durable; failing here leaves a complete file either way.
    FileDescriptor directory(::open(DirectoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.Get() >= 0) {
        ::fsync(directory.Get());
    }
    return {};
}

} // namespace

Result<void> ReplaceFileAtomically(const std::string& path, const Bytes& data, mode_t mode) {
    return ReplaceFileAt(path, data, mode).Doing("replacing " + path);
}

void RemoveStaleTemporaries(const std::string& path) {
    const std::string target = FollowLinks(path);
    const std::string base = NameOf(target);
    const std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(DirectoryOf(target).c_str()));
    if (directory == nullptr) {
        return;
    }
    const int directoryFd = ::dirfd(directory.get());
    while (const dirent* entry = ::readdir(directory.get())) {
        const std::string name = entry->d_name;
        if (!IsTemporaryName(name, base)) {
            continue;
        }
        FileDescriptor fd(
            ::openat(directoryFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK | O_NOFOLLOW));
        struct stat info {};
        // Only our own regular files, and only when no living writer holds them.
        if (fd.Get() >= 0 && ::fstat(fd.Get(), &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == ::geteuid() &&
            ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0) {
            ::unlinkat(directoryFd, name.c_str(), 0);
        }
    }
}

bool PathExists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

FileStamp StampOf(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return {};
    }
    const auto nanoseconds = [](const timespec& at) {
        return static_cast<std::uint64_t>(at.tv_sec) * 1'000'000'000u + static_cast<std::uint64_t>(at.tv_nsec);
    };
    return {true,
            static_cast<std::uint64_t>(info.st_size),
            nanoseconds(info.st_mtim),
            nanoseconds(info.st_ctim),
            static_cast<std::uint64_t>(info.st_dev),
            static_cast<std::uint64_t>(info.st_ino)};
}

bool LinksAreTrusted(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < kMostLinks; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        if (info.st_uid != ::geteuid() && info.st_uid != 0) {
            return false;
        }
        std::optional<std::string> next = NextLink(current);
        if (!next) {
            return true;
        }
        current = std::move(*next);
    }
    return true;
}
