#include "runtime/NewFile.h"

#include "runtime/FileDescriptorPosix.h"
#include "runtime/Files.h"
#include "runtime/LastErrorPosix.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes, flushes and closes `fd`, which `path` names; the file is removed when any of it failed.
Result<void> Finish(FileDescriptor fd, const std::string& path, const Bytes& data, mode_t mode) {
    Result<void> written = WriteAll(fd.Get(), data.data(), data.size());
    if (written) {
        written = OutcomeOf(::fchmod(fd.Get(), mode) == 0 && ::fsync(fd.Get()) == 0);
    }
    if (written) {
        written = OutcomeOf(fd.Close());
    }
    if (!written) {
        ::unlink(path.c_str());
    }
    return written;
}

} // namespace

Result<void> CreateNewFile(const std::string& path, const Bytes& data, mode_t mode) {
    const auto slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string temporary = directory + "/.new-XXXXXX";
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.Get() < 0) {
        return LastError();
    }
    if (Result<void> written = Finish(std::move(fd), temporary, data, mode); !written) {
        return written;
    }
    // link() fails with EEXIST instead of replacing, which is what makes the creation exclusive.
    const Result<void> linked = OutcomeOf(::link(temporary.c_str(), path.c_str()) == 0);
    ::unlink(temporary.c_str());
    if (linked || linked.Reason() == std::errc::file_exists) {
        return linked;
    }
    // A file system without hard links: create the file in place, still never over an existing one.
    FileDescriptor direct(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (direct.Get() < 0) {
        return LastError();
    }
    return Finish(std::move(direct), path, data, mode);
}
