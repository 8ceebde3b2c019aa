#pragma once

#include "runtime/Result.h"

#include <chrono>
#include <cstdint>
#include <string>

// An exclusive lock between processes, held on a lock file that is made when missing and never removed or
// replaced, so that every process locks the same file. The system drops the lock when its holder ends, however
// it ends: a lock file left behind blocks nobody.
class ProcessLock {
public:
    ProcessLock() = default;
    ~ProcessLock() { Release(); }
    ProcessLock(const ProcessLock&) = delete;
    ProcessLock& operator=(const ProcessLock&) = delete;
    ProcessLock(ProcessLock&& other) noexcept;
    ProcessLock& operator=(ProcessLock&& other) noexcept;

    // Takes the lock on `path`, waiting at most `patience` while another process holds it; then
    // std::errc::device_or_resource_busy. A lock file that cannot be opened gives the system's reason.
    [[nodiscard]] Result<void> Acquire(const std::string& path, std::chrono::milliseconds patience);
    [[nodiscard]] bool Held() const { return handle_ != kNone; }
    void Release();

private:
    static constexpr std::intptr_t kNone = -1;
    std::intptr_t handle_ = kNone;
};
