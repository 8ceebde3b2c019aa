#include "runtime/Log.h"

#include <mutex>
#include <string>

namespace {

// Workers log too (a probe, a fetch), so the writer is read under a lock.
std::mutex& WriterMutex() {
    static std::mutex mutex;
    return mutex;
}

Log::Writer& CurrentWriter() {
    static Log::Writer writer;
    return writer;
}

} // namespace

void Log::SetWriter(Writer writer) {
    std::lock_guard lock(WriterMutex());
    CurrentWriter() = std::move(writer);
}

bool Log::Enabled() {
    std::lock_guard lock(WriterMutex());
    return static_cast<bool>(CurrentWriter());
}

void Log::Failure(std::string_view where, std::string_view what) {
    std::lock_guard lock(WriterMutex());
    if (CurrentWriter()) {
        CurrentWriter()(where, what);
    }
}

void Log::Failure(std::string_view where, std::string_view what, const std::error_code& reason) {
    if (!Enabled()) {
        return;
    }
    Failure(where, std::string(what) + ": " + reason.message() + " (" + std::to_string(reason.value()) + ")");
}

void Log::Failure(std::string_view where, std::string_view what, const ::Failure& failure) {
    if (!Enabled()) {
        return;
    }
    Failure(where, std::string(what) + ": " + failure.Message() + " (" + std::to_string(failure.code.value()) + ")");
}
