#include "runtime/WinsockWin32.h"

#include <winsock2.h>

namespace Win32 {

bool StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

} // namespace Win32
