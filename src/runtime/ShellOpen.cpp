#include "runtime/ShellOpen.h"

#include "runtime/Gbk.h"

#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

constexpr const char* kOpener = "xdg-open";

// Starts `program` from PATH with `arguments` and lets a thread of its own wait for it, so no zombie stays.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return false;
    }
    std::thread([pid] {
        int status = 0;
        while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

} // namespace

std::vector<std::string> ShellOpenArguments(const std::string& address) {
    std::string operand = Gbk::ToUtf8(address);
    if (!operand.empty() && operand.front() == '-') {
        operand.insert(0, "./");
    }
    return {operand};
}

bool ShellOpen(const std::string& address) {
    return StartDetached(kOpener, ShellOpenArguments(address));
}
