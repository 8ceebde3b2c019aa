#pragma once

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

// Another process in a test: forked to run a body, told when to act through pipes, every wait bounded.

// A one-way signal between processes.
class Pipe {
public:
    Pipe() { EXPECT_EQ(::pipe(fds_), 0); }
    ~Pipe() { ::close(fds_[0]), ::close(fds_[1]); }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    void Send(int times = 1) {
        for (int i = 0; i < times; ++i) {
            const char byte = 1;
            (void)!::write(fds_[1], &byte, 1);
        }
    }
    bool Wait(int timeoutMs = 30000) {
        pollfd ready{fds_[0], POLLIN, 0};
        char byte = 0;
        return ::poll(&ready, 1, timeoutMs) == 1 && ::read(fds_[0], &byte, 1) == 1;
    }

private:
    int fds_[2] = {-1, -1};
};

// Runs `body` in a child process, whose exit status is its result.
inline pid_t Spawn(const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::_exit(body());
    }
    EXPECT_GT(pid, 0);
    return pid;
}

// The child's exit status; a child still running after `seconds` is killed and gives -1.
inline int Finish(pid_t pid, int seconds = 120) {
    int status = 0;
    for (int waited = 0; waited < seconds * 100; ++waited) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        }
        ::usleep(10000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return -1;
}
