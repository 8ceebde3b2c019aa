#include "runtime/ShellOpen.h"

#include "runtime/LastErrorWin32.h"
#include "runtime/WideTextWin32.h"

#include <windows.h>
// after windows.h, which it needs
#include <shellapi.h>

std::vector<std::string> ShellOpenArguments(const std::string& address) {
    // The shell takes the address as a whole; there are no arguments to split or guard.
    return {address};
}

Result<void> ShellOpen(const std::string& address) {
    // A running Internet Explorer, when there is one, owns whatever the shell shows about the address.
    const HWND owner = ::FindWindowExW(nullptr, nullptr, nullptr, L"Microsoft Internet Explorer");
    const HINSTANCE result =
        ::ShellExecuteW(owner, L"open", Win32::WideFromGbk(address).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success; the reason of a failure is left for GetLastError() as by any other call.
    return OutcomeOf(reinterpret_cast<INT_PTR>(result) > 32);
}
