#include "runtime/DetachedThread.h"

#include <memory>
#include <windows.h>

namespace {

DWORD WINAPI RunBody(void* argument) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return 0;
}

} // namespace

bool StartDetachedThread(std::function<void()> body, std::size_t stackSize) {
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    const HANDLE thread =
        ::CreateThread(nullptr, stackSize, RunBody, owned.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (thread == nullptr) {
        return false;
    }
    // Not a result: the thread owns the body now and frees it itself.
    static_cast<void>(owned.release());
    // Nobody waits for the thread, so its handle goes at once.
    ::CloseHandle(thread);
    return true;
}
