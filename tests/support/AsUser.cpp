#include "support/AsUser.h"

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr uid_t kNobody = 65534;

} // namespace

uid_t OrdinaryUid() {
    return ::geteuid() == 0 ? kNobody : ::geteuid();
}

void GiveToOrdinaryUser(const std::string& path) {
    if (::geteuid() != 0) {
        return;
    }
    std::error_code ignored;
    if (::lchown(path.c_str(), kNobody, kNobody) != 0 || !std::filesystem::is_directory(path, ignored)) {
        return;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path, ignored)) {
        static_cast<void>(::lchown(entry.path().c_str(), kNobody, kNobody));
    }
}

int RunAsOrdinaryUser(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child < 0) {
        return -1;
    }
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)) {
            ::_exit(125);
        }
        ::alarm(10);
        ::_exit(body());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}
