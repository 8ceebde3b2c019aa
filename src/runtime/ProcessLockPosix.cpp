#include "runtime/ProcessLock.h"

#include "runtime/FileDescriptorPosix.h"
#include "runtime/LastErrorPosix.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace {

constexpr auto kRetryEvery = std::chrono::milliseconds(5);

} // namespace

Result<void> ProcessLock::Acquire(const std::string& path, std::chrono::milliseconds patience) {
    Release();
    // Never through a link or into a FIFO: the lock file is ours, beside the file it guards.
    FileDescriptor fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK, 0600));
    if (fd.Get() < 0) {
        return LastError();
    }
    struct stat info {};
    if (::fstat(fd.Get(), &info) != 0) {
        return LastError();
    }
    if (!S_ISREG(info.st_mode)) {
        return Fail(std::errc::invalid_argument);
    }
    // An open file description's lock: it belongs to this descriptor, not to the process, so another thread's
    // lock in the same process is kept out too, and closing the descriptor (or dying) drops it.
    struct flock whole {};
    whole.l_type = F_WRLCK;
    whole.l_whence = SEEK_SET;
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    while (::fcntl(fd.Get(), F_OFD_SETLK, &whole) != 0) {
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) {
            return LastError();
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            return Fail(std::errc::device_or_resource_busy);
        }
        std::this_thread::sleep_for(kRetryEvery);
    }
    handle_ = fd.Release();
    return {};
}

void ProcessLock::Release() {
    if (handle_ != kNone) {
        ::close(static_cast<int>(std::exchange(handle_, kNone)));
    }
}
