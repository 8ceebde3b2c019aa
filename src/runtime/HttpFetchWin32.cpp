#include "runtime/HttpFetch.h"

#include "runtime/LastErrorWin32.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <windows.h>
#include <wininet.h>

namespace {

constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";
constexpr DWORD kReadChunk = 16384;
constexpr auto kCancelCheck = std::chrono::milliseconds(50);

// What the fetching thread and the caller share. The caller may stop waiting before the fetch ends; the thread
// then finishes alone, bounded by the time-outs it set, and drops what it reads.
struct Fetch {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    Bytes body;
    Result<void> outcome;
};

class InternetHandle {
public:
    explicit InternetHandle(HINTERNET handle)
        : handle_(handle) {}
    ~InternetHandle() {
        if (handle_ != nullptr) {
            ::InternetCloseHandle(handle_);
        }
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET Get() const { return handle_; }

private:
    HINTERNET handle_;
};

void SetTimeout(HINTERNET handle, DWORD option, long millis) {
    DWORD value = millis > 0 ? static_cast<DWORD>(millis) : 1;
    ::InternetSetOptionA(handle, option, &value, sizeof value);
}

// One GET with the request the lookup page has always been asked with: HTTP/1.0, "Accept: */*", nothing from
// or into the cache, redirects followed. The status is not looked at.
Result<void> Run(const std::string& url, const HttpLimits& limits, const std::shared_ptr<Fetch>& fetch) {
    URL_COMPONENTSA parts{};
    parts.dwStructSize = sizeof parts;
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    std::string path(url.size() + 2, '\0');
    parts.lpszHostName = host;
    parts.dwHostNameLength = sizeof host;
    parts.lpszUrlPath = path.data();
    parts.dwUrlPathLength = static_cast<DWORD>(path.size());
    if (!::InternetCrackUrlA(url.c_str(), static_cast<DWORD>(url.size()), 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
        return Fail(std::errc::invalid_argument);
    }
    path.resize(parts.dwUrlPathLength);
    if (path.empty()) {
        path = "/";
    }

    const InternetHandle session(::InternetOpenA(kUserAgent, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (session.Get() == nullptr) {
        return LastError();
    }
    SetTimeout(session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, limits.connectMillis);
    SetTimeout(session.Get(), INTERNET_OPTION_SEND_TIMEOUT, limits.totalMillis);
    SetTimeout(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, limits.totalMillis);
    const InternetHandle connection(
        ::InternetConnectA(session.Get(), host, parts.nPort, nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, 0));
    if (connection.Get() == nullptr) {
        return LastError();
    }
    const char* acceptTypes[] = {"*/*", nullptr};
    DWORD flags = INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE;
    if (parts.nScheme == INTERNET_SCHEME_HTTPS) {
        flags |= INTERNET_FLAG_SECURE;
    }
    const InternetHandle request(
        ::HttpOpenRequestA(connection.Get(), "GET", path.c_str(), "HTTP/1.0", nullptr, acceptTypes, flags, 0));
    if (request.Get() == nullptr || !::HttpSendRequestA(request.Get(), nullptr, 0, nullptr, 0)) {
        return LastError();
    }
    char chunk[kReadChunk];
    for (;;) {
        DWORD got = 0;
        if (!::InternetReadFile(request.Get(), chunk, sizeof chunk, &got)) {
            return LastError();
        }
        if (got == 0) {
            return {};
        }
        const std::lock_guard lock(fetch->mutex);
        if (fetch->abandoned) {
            return Fail(std::errc::operation_canceled);
        }
        const std::size_t room = limits.maxBody - fetch->body.size();
        fetch->body.insert(fetch->body.end(), chunk, chunk + (got < room ? got : room));
        if (got >= room) {
            return Fail(std::errc::file_too_large);
        }
    }
}

} // namespace

HttpReply HttpGet(std::string_view address, const HttpLimits& limits, const std::atomic<bool>* cancel) {
    const std::string url = RequestAddress(address);
    auto fetch = std::make_shared<Fetch>();
    std::thread worker([url, limits, fetch] {
        Result<void> outcome = Run(url, limits, fetch);
        const std::lock_guard lock(fetch->mutex);
        fetch->outcome = std::move(outcome);
        fetch->done = true;
        fetch->finished.notify_all();
    });
    // WinINet has no bound on a whole request of its own, and a blocked call cannot be called off everywhere;
    // so the caller waits at most the total time and then takes what has arrived.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limits.totalMillis);
    std::unique_lock lock(fetch->mutex);
    while (!fetch->done) {
        if ((cancel != nullptr && cancel->load()) || std::chrono::steady_clock::now() >= deadline) {
            fetch->abandoned = true;
            const bool cancelled = cancel != nullptr && cancel->load();
            HttpReply reply{std::move(fetch->body),
                            Fail(cancelled ? std::errc::operation_canceled : std::errc::timed_out, "fetching " + url)};
            lock.unlock();
            worker.detach();
            return reply;
        }
        fetch->finished.wait_for(lock, kCancelCheck);
    }
    lock.unlock();
    worker.join();
    return HttpReply{std::move(fetch->body), std::move(fetch->outcome).Doing("fetching " + url)};
}
