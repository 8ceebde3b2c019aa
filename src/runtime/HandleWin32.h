#pragma once

#include <windows.h>

namespace Win32 {

// Closes a kernel handle on every path out of a function. Both of the system's "no handle" values count.
class Handle {
public:
    Handle() = default;
    explicit Handle(HANDLE handle)
        : handle_(handle) {}
    ~Handle() { Close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    HANDLE Get() const { return handle_; }
    bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
    void Reset(HANDLE handle) {
        Close();
        handle_ = handle;
    }
    // Hands the handle over to the caller, who closes it from then on.
    HANDLE Release() {
        const HANDLE handle = handle_;
        handle_ = nullptr;
        return handle;
    }
    bool Close() {
        const bool closed = !Valid() || ::CloseHandle(handle_) != 0;
        handle_ = nullptr;
        return closed;
    }

private:
    HANDLE handle_ = nullptr;
};

} // namespace Win32
