#include "runtime/HttpFetch.h"

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace {

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

void InitialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlDeleter {
    void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct HeaderListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

} // namespace

Bytes HttpGet(std::string_view address, const HttpLimits& limits, const std::atomic<bool>* cancel) {
    InitialiseOnce();
    const std::unique_ptr<CURL, CurlDeleter> curl(curl_easy_init());
    if (!curl) {
        return {};
    }
    Transfer transfer{{}, limits.maxBody};
    const std::string url = RequestAddress(address);
    std::unique_ptr<curl_slist, HeaderListDeleter> headers(curl_slist_append(nullptr, "Accept: */*"));
    // Ask any cache on the way for a fresh answer; curl keeps no cache of its own.
    headers.reset(curl_slist_append(headers.release(), "Pragma: no-cache"));

    CURL* c = curl.get();
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0));
    curl_easy_setopt(c, CURLOPT_USERAGENT, kUserAgent);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(c, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, limits.connectMillis);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, limits.totalMillis);
    // Worker threads must not get the alarm signal curl would otherwise use for name look-up time-outs.
    curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, KeepBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &transfer);

    // Driven step by step rather than by curl_easy_perform, so a cancel is seen within one short wait even
    // while the connection attempt hangs.
    const std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!multi || curl_multi_add_handle(multi.get(), c) != CURLM_OK) {
        return {};
    }
    int running = 1;
    while (running != 0 && (cancel == nullptr || !cancel->load())) {
        if (curl_multi_perform(multi.get(), &running) != CURLM_OK) {
            break;
        }
        if (running != 0) {
            curl_multi_poll(multi.get(), nullptr, 0, kCancelCheckMillis, nullptr);
        }
    }
    curl_multi_remove_handle(multi.get(), c);
    return std::move(transfer.body);
}
