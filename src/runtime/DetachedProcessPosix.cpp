#include "runtime/DetachedProcess.h"

#include "runtime/ChildSignalsPosix.h"
#include "runtime/FileDescriptorPosix.h"
#include "runtime/Files.h"
#include "runtime/LastErrorPosix.h"

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

// Only async-signal-safe calls from here on: the parent has other threads, whose locks the copy may hold.
[[noreturn]] void RunClient(const char* program, char* const* argv, char* const* envp, int input, int status) {
    ::setsid();
    RestoreDefaultSignals();
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

namespace {

// The arguments as the exec wants them; built before any fork, since the children may not allocate.
std::vector<char*> ArgumentVector(const std::string& program, const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    return argv;
}

// A pipe whose read end holds `input` and then ends. The input is put in before the client exists; a pipe holds
// far more than a password, so the write never blocks, and the client reads it whenever it likes. On failure the
// descriptor is -1 and errno tells why.
FileDescriptor InputPipe(std::string_view input) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return FileDescriptor(-1);
    }
    const FileDescriptor writeEnd(ends[1]);
    ::fcntl(writeEnd.Get(), F_SETFL, O_NONBLOCK);
    // What does not fit is cut short; the client then sees its input end early and asks for the password
    // itself, which is all that could be done about it.
    static_cast<void>(WriteAll(writeEnd.Get(), input.data(), input.size()));
    return FileDescriptor(ends[0]);
}

// The two ends of the pipe through which a client reports a failed exec; a successful exec closes it unwritten.
struct StatusPipe {
    FileDescriptor read{-1};
    FileDescriptor write{-1};
};

// The status pipe, or the reason it could not be made.
Result<void> MakeStatusPipe(StatusPipe& status) {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return LastError();
    }
    status.read = FileDescriptor(ends[0]);
    status.write = FileDescriptor(ends[1]);
    return {};
}

// Success when the exec went through, else the error the client reported.
Result<void> ExecOutcome(int statusRead) {
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(statusRead, &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == 0) {
        return {};
    }
    return got == static_cast<ssize_t>(sizeof error) ? FailSystem(error) : LastError();
}

Result<void> Detach(const std::string& program, const std::vector<std::string>& arguments, std::string_view input) {
    std::vector<char*> argv = ArgumentVector(program, arguments);
    FileDescriptor inputRead = InputPipe(input);
    if (inputRead.Get() < 0) {
        return LastError();
    }
    StatusPipe status;
    if (Result<void> made = MakeStatusPipe(status); !made) {
        return made;
    }

    // Forking twice hands the client to init, which reaps it; the middle child ends at once.
    const pid_t middle = ::fork();
    if (middle == 0) {
        status.read.Close();
        const pid_t client = ::fork();
        if (client == 0) {
            RunClient(program.c_str(), argv.data(), environ, inputRead.Get(), status.write.Get());
        }
        if (client < 0) {
            const int error = errno;
            [[maybe_unused]] const ssize_t ignored = ::write(status.write.Get(), &error, sizeof error);
            ::_exit(1);
        }
        ::_exit(0);
    }
    const int forkError = errno;
    inputRead.Close();
    status.write.Close();
    if (middle < 0) {
        return FailSystem(forkError);
    }

    int middleStatus = 0;
    while (::waitpid(middle, &middleStatus, 0) < 0 && errno == EINTR) {
    }
    const Result<void> started = ExecOutcome(status.read.Get());
    if (started && !(WIFEXITED(middleStatus) && WEXITSTATUS(middleStatus) == 0)) {
        return Fail(std::errc::io_error);
    }
    return started;
}

Result<WatchedProcess> Watch(const std::string& program, const std::vector<std::string>& arguments,
                             std::string_view input) {
    std::vector<char*> argv = ArgumentVector(program, arguments);
    FileDescriptor inputRead = InputPipe(input);
    if (inputRead.Get() < 0) {
        return LastError();
    }
    StatusPipe status;
    if (Result<void> made = MakeStatusPipe(status); !made) {
        return FailureOf(made);
    }
    const pid_t client = ::fork();
    if (client == 0) {
        RunClient(program.c_str(), argv.data(), environ, inputRead.Get(), status.write.Get());
    }
    const int forkError = errno;
    inputRead.Close();
    status.write.Close();
    if (client < 0) {
        return FailSystem(forkError);
    }
    // The descriptor is taken before anything can reap the child, so it names this child and no later one.
    WatchedProcess watched(client, ::syscall(SYS_pidfd_open, client, 0));
    if (Result<void> started = ExecOutcome(status.read.Get()); !started) {
        while (::waitpid(client, nullptr, 0) < 0 && errno == EINTR) {
        }
        return FailureOf(started);
    }
    return watched;
}

} // namespace

WatchedProcess::~WatchedProcess() {
    if (notice_ >= 0) {
        ::close(static_cast<int>(notice_));
    }
}

Result<void> StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                           std::string_view input) {
    return Detach(program, arguments, input).Doing("starting " + program);
}

Result<WatchedProcess> StartWatched(const std::string& program, const std::vector<std::string>& arguments,
                                    std::string_view input) {
    return Watch(program, arguments, input).Doing("starting " + program);
}

std::optional<ProcessEnd> CollectEnd(int pid) {
    int status = 0;
    pid_t got = 0;
    do {
        got = ::waitpid(pid, &status, WNOHANG);
    } while (got < 0 && errno == EINTR);
    if (got != pid) {
        // Still running, or nothing of ours by that id any more: either way there is no end to tell.
        return got == 0 ? std::nullopt : std::optional<ProcessEnd>(ProcessEnd{false, 0});
    }
    if (WIFEXITED(status)) {
        return ProcessEnd{true, WEXITSTATUS(status)};
    }
    return ProcessEnd{false, WIFSIGNALED(status) ? WTERMSIG(status) : 0};
}
