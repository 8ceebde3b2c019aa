#include "runtime/HttpFetch.h"

#include <curl/curl.h>
#include <dlfcn.h>
#include <memory>

namespace {

// libcurl and the two dozen libraries it brings (TLS, Kerberos, LDAP, SSH...) took a good part of the program's
// start when linked: it is loaded at the first fetch instead, on the fetching thread, long after the window is up.
struct Curl {
    decltype(&curl_global_init) globalInit;
    decltype(&curl_easy_init) easyInit;
    decltype(&curl_easy_cleanup) easyCleanup;
    decltype(&curl_easy_setopt) easySetopt;
    decltype(&curl_slist_append) slistAppend;
    decltype(&curl_slist_free_all) slistFreeAll;
    decltype(&curl_multi_init) multiInit;
    decltype(&curl_multi_cleanup) multiCleanup;
    decltype(&curl_multi_add_handle) multiAddHandle;
    decltype(&curl_multi_remove_handle) multiRemoveHandle;
    decltype(&curl_multi_perform) multiPerform;
    decltype(&curl_multi_poll) multiPoll;
    decltype(&curl_multi_info_read) multiInfoRead;
};

template <typename Function> bool Resolve(void* library, const char* name, Function& function) {
    function = reinterpret_cast<Function>(dlsym(library, name));
    return function != nullptr;
}

// The library's functions, or nullptr when it cannot be loaded; it then stays loaded until the process ends.
const Curl* LoadCurl() {
    static const Curl* const loaded = []() -> const Curl* {
        void* library = dlopen("libcurl.so.4", RTLD_NOW | RTLD_LOCAL);
        if (library == nullptr) {
            return nullptr;
        }
        static Curl curl{};
        const bool complete = Resolve(library, "curl_global_init", curl.globalInit) &&
                              Resolve(library, "curl_easy_init", curl.easyInit) &&
                              Resolve(library, "curl_easy_cleanup", curl.easyCleanup) &&
                              Resolve(library, "curl_easy_setopt", curl.easySetopt) &&
                              Resolve(library, "curl_slist_append", curl.slistAppend) &&
                              Resolve(library, "curl_slist_free_all", curl.slistFreeAll) &&
                              Resolve(library, "curl_multi_init", curl.multiInit) &&
                              Resolve(library, "curl_multi_cleanup", curl.multiCleanup) &&
                              Resolve(library, "curl_multi_add_handle", curl.multiAddHandle) &&
                              Resolve(library, "curl_multi_remove_handle", curl.multiRemoveHandle) &&
                              Resolve(library, "curl_multi_perform", curl.multiPerform) &&
                              Resolve(library, "curl_multi_poll", curl.multiPoll) &&
                              Resolve(library, "curl_multi_info_read", curl.multiInfoRead);
        if (!complete || curl.globalInit(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            return nullptr;
        }
        return &curl;
    }();
    return loaded;
}

constexpr int kCancelCheckMillis = 50;
constexpr const char* kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)";

struct Transfer {
    Bytes body;
    std::size_t maxBody;
};

std::size_t KeepBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const std::size_t bytes = size * count;
    const std::size_t room = transfer->maxBody - transfer->body.size();
    const std::size_t kept = bytes < room ? bytes : room;
    transfer->body.insert(transfer->body.end(), data, data + kept);
    // Returning less than was offered ends the transfer; what was kept stays.
    return kept;
}

// The reason for a transfer that ended with `code`.
Result<void> TransferOutcome(CURLcode code, const Transfer& transfer) {
    switch (code) {
    case CURLE_OK:
        return {};
    case CURLE_WRITE_ERROR:
        // What KeepBody refused: the body went past the limit.
        return transfer.body.size() >= transfer.maxBody ? Fail(std::errc::file_too_large) : Fail(std::errc::io_error);
    case CURLE_OPERATION_TIMEDOUT:
        return Fail(std::errc::timed_out);
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return Fail(std::errc::host_unreachable);
    case CURLE_COULDNT_CONNECT:
        return Fail(std::errc::connection_refused);
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        return Fail(std::errc::invalid_argument);
    default:
        return Fail(std::errc::io_error);
    }
}

// The body as far as it arrived, and how the transfer ended.
Result<void> Get(std::string_view address, const HttpLimits& limits, const std::atomic<bool>* cancel, Bytes& body) {
    const Curl* const lib = LoadCurl();
    if (lib == nullptr) {
        return Fail(std::errc::not_supported, "loading libcurl.so.4");
    }
    const auto easyCleanup = [lib](CURL* handle) { lib->easyCleanup(handle); };
    const auto multiCleanup = [lib](CURLM* handle) { lib->multiCleanup(handle); };
    const auto slistFreeAll = [lib](curl_slist* list) { lib->slistFreeAll(list); };
    const std::unique_ptr<CURL, decltype(easyCleanup)> curl(lib->easyInit(), easyCleanup);
    if (!curl) {
        return Fail(std::errc::not_enough_memory);
    }
    Transfer transfer{{}, limits.maxBody};
    const std::string url = RequestAddress(address);
    std::unique_ptr<curl_slist, decltype(slistFreeAll)> headers(lib->slistAppend(nullptr, "Accept: */*"), slistFreeAll);
    // Ask any cache on the way for a fresh answer; curl keeps no cache of its own.
    headers.reset(lib->slistAppend(headers.release(), "Pragma: no-cache"));

    CURL* c = curl.get();
    lib->easySetopt(c, CURLOPT_URL, url.c_str());
    lib->easySetopt(c, CURLOPT_HTTPGET, 1L);
    lib->easySetopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    lib->easySetopt(c, CURLOPT_USERAGENT, kUserAgent);
    lib->easySetopt(c, CURLOPT_HTTPHEADER, headers.get());
    lib->easySetopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    lib->easySetopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    lib->easySetopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    lib->easySetopt(c, CURLOPT_MAXREDIRS, 10L);
    lib->easySetopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMillis);
    lib->easySetopt(c, CURLOPT_TIMEOUT_MS, limits.totalMillis);
    // Worker threads must not get the alarm signal curl would otherwise use for name look-up time-outs.
    lib->easySetopt(c, CURLOPT_NOSIGNAL, 1L);
    lib->easySetopt(c, CURLOPT_WRITEFUNCTION, KeepBody);
    lib->easySetopt(c, CURLOPT_WRITEDATA, &transfer);

    // Driven step by step rather than by curl_easy_perform, so a cancel is seen within one short wait even
    // while the connection attempt hangs.
    const std::unique_ptr<CURLM, decltype(multiCleanup)> multi(lib->multiInit(), multiCleanup);
    if (!multi || lib->multiAddHandle(multi.get(), c) != CURLM_OK) {
        return Fail(std::errc::not_enough_memory);
    }
    int running = 1;
    Result<void> outcome = Fail(std::errc::operation_canceled);
    while (running != 0 && (cancel == nullptr || !cancel->load())) {
        if (lib->multiPerform(multi.get(), &running) != CURLM_OK) {
            outcome = Fail(std::errc::io_error);
            break;
        }
        if (running != 0) {
            lib->multiPoll(multi.get(), nullptr, 0, kCancelCheckMillis, nullptr);
        }
    }
    if (running == 0) {
        int left = 0;
        while (const CURLMsg* message = lib->multiInfoRead(multi.get(), &left)) {
            if (message->msg == CURLMSG_DONE) {
                outcome = TransferOutcome(message->data.result, transfer);
            }
        }
    }
    lib->multiRemoveHandle(multi.get(), c);
    body = std::move(transfer.body);
    return outcome;
}

} // namespace

HttpReply HttpGet(std::string_view address, const HttpLimits& limits, const std::atomic<bool>* cancel) {
    HttpReply reply;
    reply.outcome = Get(address, limits, cancel, reply.body).Doing("fetching " + RequestAddress(address));
    return reply;
}
