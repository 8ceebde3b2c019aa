#include "runtime/TemporaryFiles.h"

#include "runtime/Files.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

std::string TemporaryDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string directory = tmp != nullptr && tmp[0] == '/' ? tmp : "/tmp";
    if (directory.back() != '/') {
        directory += '/';
    }
    return directory;
}

NewFileResult WriteNewFile(const std::string& path, std::string_view data) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        return errno == EEXIST ? NewFileResult::Exists : NewFileResult::Failed;
    }
    const bool ok = WriteAll(fd, data.data(), data.size()) && ::fsync(fd) == 0;
    return ::close(fd) == 0 && ok ? NewFileResult::Written : NewFileResult::Failed;
}
