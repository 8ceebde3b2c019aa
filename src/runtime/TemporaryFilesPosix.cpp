#include "runtime/TemporaryFiles.h"

#include "runtime/FileDescriptorPosix.h"
#include "runtime/Files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

NewFileResult WriteNewFile(const std::string& path, std::string_view data) {
    FileDescriptor fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (fd.Get() < 0) {
        return errno == EEXIST ? NewFileResult::Exists : NewFileResult::Failed;
    }
    const bool ok = WriteAll(fd.Get(), data.data(), data.size()) && ::fsync(fd.Get()) == 0;
    if (!fd.Close() || !ok) {
        // A half-written file is of no use to anyone and would only be mistaken for a whole one.
        ::unlink(path.c_str());
        return NewFileResult::Failed;
    }
    return NewFileResult::Written;
}

bool RandomBits(std::uint64_t& number) {
    return ::getrandom(&number, sizeof number, 0) == static_cast<ssize_t>(sizeof number);
}
