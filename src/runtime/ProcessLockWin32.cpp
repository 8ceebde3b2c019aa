#include "runtime/ProcessLock.h"

#include "runtime/HandleWin32.h"
#include "runtime/LastErrorWin32.h"
#include "runtime/WideTextWin32.h"

#include <thread>
#include <utility>
#include <windows.h>

namespace {

constexpr auto kRetryEvery = std::chrono::milliseconds(5);

} // namespace

Result<void> ProcessLock::Acquire(const std::string& path, std::chrono::milliseconds patience) {
    Release();
    // Every sharing flag: the lock, not the open, is what keeps the others out, and nobody may be kept from
    // opening the file to wait for it. Made hidden, as it is nothing a user works with beside the program.
    Win32::Handle file(::CreateFileW(Win32::WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                     FILE_ATTRIBUTE_HIDDEN, nullptr));
    if (!file.Valid()) {
        return LastError();
    }
    const auto giveUp = std::chrono::steady_clock::now() + patience;
    for (;;) {
        OVERLAPPED at{};
        if (::LockFileEx(file.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &at) !=
            0) {
            break;
        }
        if (::GetLastError() != ERROR_LOCK_VIOLATION && ::GetLastError() != ERROR_IO_PENDING) {
            return LastError();
        }
        if (std::chrono::steady_clock::now() >= giveUp) {
            return Fail(std::errc::device_or_resource_busy);
        }
        std::this_thread::sleep_for(kRetryEvery);
    }
    handle_ = reinterpret_cast<std::intptr_t>(file.Release());
    return {};
}

void ProcessLock::Release() {
    if (handle_ != kNone) {
        // Closing the handle drops its locks.
        ::CloseHandle(reinterpret_cast<HANDLE>(std::exchange(handle_, kNone)));
    }
}
