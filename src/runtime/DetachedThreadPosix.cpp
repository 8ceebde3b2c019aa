#include "runtime/DetachedThread.h"

#include <memory>
#include <pthread.h>

namespace {

void* RunBody(void* argument) {
    const std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(argument));
    (*body)();
    return nullptr;
}

} // namespace

bool StartDetachedThread(std::function<void()> body, std::size_t stackSize) {
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0) {
        return false;
    }
    auto owned = std::make_unique<std::function<void()>>(std::move(body));
    pthread_t thread{};
    const bool started = ::pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) == 0 &&
                         ::pthread_attr_setstacksize(&attributes, stackSize) == 0 &&
                         ::pthread_create(&thread, &attributes, RunBody, owned.get()) == 0;
    ::pthread_attr_destroy(&attributes);
    if (started) {
        // Not a result: the thread owns the body now and frees it itself.
        static_cast<void>(owned.release());
    }
    return started;
}
