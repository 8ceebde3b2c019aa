#include "runtime/ProcessLock.h"

#include <utility>

ProcessLock::ProcessLock(ProcessLock&& other) noexcept
    : handle_(std::exchange(other.handle_, kNone)) {}

ProcessLock& ProcessLock::operator=(ProcessLock&& other) noexcept {
    if (this != &other) {
        Release();
        handle_ = std::exchange(other.handle_, kNone);
    }
    return *this;
}
