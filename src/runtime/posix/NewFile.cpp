#include "runtime/NewFile.h"

#include "runtime/Files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Writes, flushes and closes `fd`, which `path` names; the file is removed when any of it failed.
bool Finish(int fd, const std::string& path, const Bytes& data, mode_t mode) {
    const bool written = WriteAll(fd, data.data(), data.size()) && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written) {
        ::unlink(path.c_str());
        return false;
    }
    return true;
}

} // namespace

bool CreateNewFile(const std::string& path, const Bytes& data, mode_t mode) {
    const auto slash = path.rfind('/');
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
    std::string temporary = directory + "/.new-XXXXXX";
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0 || !Finish(fd, temporary, data, mode)) {
        return false;
    }
    // link() fails with EEXIST instead of replacing, which is what makes the creation exclusive.
    const bool linked = ::link(temporary.c_str(), path.c_str()) == 0;
    const int linkError = errno;
    ::unlink(temporary.c_str());
    if (linked || linkError == EEXIST) {
        return linked;
    }
    // A file system without hard links: create the file in place, still never over an existing one.
    const int direct = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
    return direct >= 0 && Finish(direct, path, data, mode);
}
