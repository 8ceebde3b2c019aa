#pragma once

#include "runtime/Result.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The full path of the program `name` as the shell finds it on PATH; empty when none is there.
std::string FindOnPath(const std::string& name);

// Starts `program` (a path) with `arguments`, no shell between, in a session of its own that this process
// never waits for and never leaves as a zombie. Its standard input holds `input` and then ends, so a secret
// handed over this way shows neither in the arguments nor in the environment. Success once the program runs; a
// program that could not be started gives the reason its start failed (ENOENT, EACCES).
Result<void> StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                           std::string_view input);

// A program started by StartWatched: its process id and the system's handle of its end, which this object owns
// and lets go of when it goes; the program itself runs on.
class WatchedProcess {
public:
    WatchedProcess() = default;
    // Takes over `endNotice`; -1 for none.
    WatchedProcess(int pid, std::intptr_t endNotice)
        : pid_(pid)
        , notice_(endNotice) {}
    ~WatchedProcess();
    WatchedProcess(const WatchedProcess&) = delete;
    WatchedProcess& operator=(const WatchedProcess&) = delete;
    WatchedProcess(WatchedProcess&& other) noexcept
        : pid_(std::exchange(other.pid_, -1))
        , notice_(std::exchange(other.notice_, -1)) {}
    WatchedProcess& operator=(WatchedProcess&& other) noexcept {
        // The handle held so far goes with `taken`.
        WatchedProcess taken(std::move(other));
        std::swap(pid_, taken.pid_);
        std::swap(notice_, taken.notice_);
        return *this;
    }

    [[nodiscard]] int Id() const { return pid_; }
    // What an event loop waits on to learn that the program has ended: on Linux a descriptor that becomes readable
    // then. -1 when there is none.
    [[nodiscard]] std::intptr_t EndNotice() const { return notice_; }

private:
    int pid_ = -1;
    std::intptr_t notice_ = -1;
};

// How a watched program ended: its exit status, or the signal that ended it.
struct ProcessEnd {
    bool exited = false;
    int code = 0;
};

// Starts `program` as StartDetached does, but as a child of this process, so that how it ends can be learnt.
// Nothing waits for it: when this process ends first, the child is handed to init as any orphan, and a child
// whose end is never collected stays a zombie only while this process runs. A failure, with the reason its start
// failed, when it did not start.
Result<WatchedProcess> StartWatched(const std::string& program, const std::vector<std::string>& arguments,
                                    std::string_view input);

// How the watched child `pid` ended, reaping it; nullopt while it still runs.
std::optional<ProcessEnd> CollectEnd(int pid);

// Windows only: starts `commandLine` (UTF-8) as CreateProcess reads it, the program being its first word, found by
// the system's search for programs, with a normal window. Waits at most `idleWait` for it to become idle, then
// lets it go. Success once it runs.
Result<void> StartCommandLine(const std::string& commandLine, std::chrono::milliseconds idleWait);
