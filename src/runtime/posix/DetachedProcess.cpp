#include "runtime/DetachedProcess.h"

#include "runtime/Files.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <linux/close_range.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

bool IsExecutableFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

void CloseQuietly(int fd) {
    if (fd >= 0) {
        ::close(fd);
    }
}

// Only async-signal-safe calls from here on: the parent has other threads, whose locks the copy may hold.
[[noreturn]] void RunClient(const char* program, char* const* argv, char* const* envp, int input, int status) {
    ::setsid();
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &standard, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    // When the pipe already is descriptor 0, dup2 does nothing and would leave it to be closed by the exec.
    const bool placed = input == STDIN_FILENO ? ::fcntl(input, F_SETFD, 0) == 0 : ::dup2(input, STDIN_FILENO) >= 0;
    if (!placed) {
        const int error = errno;
        [[maybe_unused]] const ssize_t ignored = ::write(status, &error, sizeof error);
        ::_exit(127);
    }
    // Descriptors the parent opened without close-on-exec must not leak into a long-lived client.
    ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(program, argv, envp);
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(status, &error, sizeof error);
    ::_exit(127);
}

} // namespace

std::string FindOnPath(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    if (name.find('/') != std::string::npos) {
        return IsExecutableFile(name) ? name : std::string();
    }
    const char* path = std::getenv("PATH");
    std::string_view directories = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
    for (;;) {
        const auto colon = directories.find(':');
        std::string directory(directories.substr(0, colon));
        // An empty entry means the current directory, as the shell takes it.
        const std::string candidate = (directory.empty() ? std::string(".") : directory) + "/" + name;
        if (IsExecutableFile(candidate)) {
            return candidate;
        }
        if (colon == std::string_view::npos) {
            return {};
        }
        directories.remove_prefix(colon + 1);
    }
}

bool StartDetached(const std::string& program, const std::vector<std::string>& arguments, std::string_view input) {
    // Everything the children need is built here, because they may not allocate.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    // The input is put in the pipe before the client exists; a pipe holds far more than a password, so the
    // write never blocks, and the client reads it whenever it likes.
    int inputPipe[2];
    if (::pipe2(inputPipe, O_CLOEXEC) != 0) {
        return false;
    }
    ::fcntl(inputPipe[1], F_SETFL, O_NONBLOCK);
    // What does not fit is cut short; the client then sees its input end early.
    static_cast<void>(WriteAll(inputPipe[1], input.data(), input.size()));
    ::close(inputPipe[1]);

    // The client reports a failed exec through this pipe; a successful exec closes it unwritten.
    int statusPipe[2];
    if (::pipe2(statusPipe, O_CLOEXEC) != 0) {
        ::close(inputPipe[0]);
        return false;
    }

    // Forking twice hands the client to init, which reaps it; the middle child ends at once.
    const pid_t middle = ::fork();
    if (middle == 0) {
        ::close(statusPipe[0]);
        const pid_t client = ::fork();
        if (client == 0) {
            RunClient(program.c_str(), argv.data(), environ, inputPipe[0], statusPipe[1]);
        }
        ::_exit(client < 0 ? 1 : 0);
    }
    ::close(inputPipe[0]);
    ::close(statusPipe[1]);
    if (middle < 0) {
        ::close(statusPipe[0]);
        return false;
    }

    int middleStatus = 0;
    while (::waitpid(middle, &middleStatus, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(statusPipe[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    CloseQuietly(statusPipe[0]);
    return WIFEXITED(middleStatus) && WEXITSTATUS(middleStatus) == 0 && got == 0;
}
