#include "runtime/ConsoleProcess.h"

#include "runtime/ChildSignalsPosix.h"
#include "runtime/DetachedProcess.h"
#include "runtime/FileDescriptorPosix.h"
#include "runtime/LastErrorPosix.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <linux/close_range.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

// The most one read takes; a console program's pipe rarely holds more than a few lines.
constexpr std::size_t kReadSize = 64 * 1024;
// A killed program is gone within microseconds; this only bounds the wait should the system be stuck.
constexpr std::chrono::milliseconds kReapWait{2000};

// Writes the child's errno into the status pipe and ends the child; only async-signal-safe calls.
[[noreturn]] void FailChild(int status) {
    const int error = errno;
    [[maybe_unused]] const ssize_t ignored = ::write(status, &error, sizeof error);
    ::_exit(127);
}

// The child's side, between fork and exec: only async-signal-safe calls, since the parent has other threads.
[[noreturn]] void RunChild(const char* program, char* const* argv, int output, int status, pid_t parent) {
    // A group of its own lets a stop reach whatever the program starts. The parent-death signal ends the program
    // if this process is killed without a chance to clean up (or already was, before the signal was set); the
    // system drops that signal for a program installed with file capabilities run by an ordinary user, and such
    // a program ends at its next write into the pipe no one reads any more.
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(1);
    }
    RestoreDefaultSignals();
    const int input = ::open("/dev/null", O_RDONLY);
    if (input < 0 || ::dup2(input, STDIN_FILENO) < 0 || ::dup2(output, STDOUT_FILENO) < 0 ||
        ::dup2(output, STDERR_FILENO) < 0) {
        FailChild(status);
    }
    ::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC);
    ::execve(program, argv, environ);
    FailChild(status);
}

} // namespace

struct ConsoleProcess::Run {
    // The program's id, which is also its process group's; 0 once it has been reaped.
    pid_t pid = 0;
    // The pipe's read end.
    FileDescriptor output{-1};
};

ConsoleProcess::ConsoleProcess() = default;

ConsoleProcess::~ConsoleProcess() {
    Stop();
}

Result<void> ConsoleProcess::Begin(const std::string& program, const std::vector<std::string>& arguments) {
    const std::string path = FindOnPath(program);
    if (path.empty()) {
        return Fail(std::errc::no_such_file_or_directory);
    }
    // Built before the fork, since the child may not allocate.
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const std::string& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);

    int pipeEnds[2];
    int statusEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) {
        return LastError();
    }
    FileDescriptor output(pipeEnds[0]);
    FileDescriptor writeEnd(pipeEnds[1]);
    if (::pipe2(statusEnds, O_CLOEXEC) != 0) {
        return LastError();
    }
    const FileDescriptor statusRead(statusEnds[0]);
    FileDescriptor statusWrite(statusEnds[1]);

    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child == 0) {
        RunChild(path.c_str(), argv.data(), writeEnd.Get(), statusWrite.Get(), parent);
    }
    const int forkError = errno;
    // From here on the program and what it starts are the only writers, so the pipe ends when they do.
    writeEnd.Close();
    statusWrite.Close();
    if (child < 0) {
        return FailSystem(forkError);
    }
    // Set here as well, so that a stop right after the start reaches a group that already exists.
    ::setpgid(child, child);

    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(statusRead.Get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got != 0) {
        const Result<void> failed = got == static_cast<ssize_t>(sizeof error) ? FailSystem(error) : LastError();
        while (::waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
        }
        return failed;
    }
    ::fcntl(output.Get(), F_SETFL, O_NONBLOCK);
    run_ = std::make_unique<Run>();
    run_->pid = child;
    run_->output = std::move(output);
    return {};
}

std::string ConsoleProcess::Read(std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (run_ != nullptr) {
        // Looked at before the pipe: once the program has ended, all it wrote is in the pipe already.
        if (run_->pid > 0) {
            int status = 0;
            if (::waitpid(run_->pid, &status, WNOHANG) == run_->pid) {
                run_->pid = -run_->pid;
            }
        }
        const bool exited = run_->pid < 0;
        std::string bytes(kReadSize, '\0');
        const ssize_t got = ::read(run_->output.Get(), bytes.data(), bytes.size());
        if (got > 0) {
            bytes.resize(static_cast<std::size_t>(got));
            return bytes;
        }
        if (got == 0 || (errno != EAGAIN && errno != EINTR) || exited) {
            // Every writer has closed its end, or the program has ended: whatever it left running ends with it.
            Stop();
            break;
        }
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
        if (left <= 0) {
            break;
        }
        pollfd readable{run_->output.Get(), POLLIN, 0};
        // Bounded, so that an end of the program that leaves its output open is seen too.
        ::poll(&readable, 1, static_cast<int>(std::min<long long>(left, 10)));
    }
    return {};
}

bool ConsoleProcess::Ended() const {
    return run_ == nullptr;
}

void ConsoleProcess::Break() {
    if (run_ != nullptr && run_->pid > 0) {
        ::kill(run_->pid, SIGQUIT);
    }
}

void ConsoleProcess::Stop() {
    if (run_ == nullptr) {
        return;
    }
    const std::unique_ptr<Run> run = std::move(run_);
    const pid_t group = run->pid > 0 ? run->pid : -run->pid;
    // Also after a natural end: whatever the program started must not outlive the run.
    ::kill(-group, SIGKILL);
    if (run->pid > 0) {
        ::kill(run->pid, SIGKILL);
        for (const auto deadline = std::chrono::steady_clock::now() + kReapWait;
             std::chrono::steady_clock::now() < deadline;) {
            const pid_t got = ::waitpid(run->pid, nullptr, WNOHANG);
            if (got == run->pid || (got < 0 && errno != EINTR)) {
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}
