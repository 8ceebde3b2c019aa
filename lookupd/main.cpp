// tolvar-lookupd: the IP-lookup page Tolvar asks about addresses. It answers GET / with the caller's own address
// and GET /?IP=<address or name> with the address's country, from the GeoIP country database, in Chinese.
#include "AnswerPage.h"
#include "Locator.h"
#include "Log.h"
#include "RequestGate.h"

#include <microhttpd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kDefaultDatabase = "/usr/share/GeoIP/GeoIP.dat";
// Longer than any host name; a longer value is a malformed request, not a name.
constexpr std::size_t kMaxQuery = 255;
// Per connection: enough for any honest request head, small enough that a flood of them costs little.
constexpr std::size_t kConnectionMemory = 16 * 1024;
// The largest request head taken; the rest of a connection's memory holds the answer.
constexpr std::size_t kHeadBytes = 8 * 1024;
// Connections waiting for their heads, and connections being answered, each at most this many.
constexpr unsigned kConnectionLimit = 1000;

struct Options {
    std::string listen = "127.0.0.1:8937";
    std::string database = kDefaultDatabase;
    unsigned threads = 0;
    bool resolveNames = true;
    unsigned requestDeadline = 5;
    unsigned perAddressLimit = 64;
};

struct Service {
    const Locator* locator;
    bool resolveNames;
};

void PrintHelp(std::FILE* out) {
    std::fprintf(
        out,
        "Usage: tolvar-lookupd [OPTIONS]\n"
        "Answers Tolvar's IP lookups: GET / shows the caller's address and country, GET /?IP=ADDRESS\n"
        "the country of an IPv4 address or host name, in Chinese, as a UTF-8 HTML page.\n\n"
        "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8937; port 0 picks a free port)\n"
        "  --database FILE        GeoIP country database (default %s)\n"
        "  --threads N            worker threads (default: one per processor)\n"
        "  --no-resolve           answer only IPv4 addresses, never asking the resolver about names\n"
        "  --request-deadline S   a request head must arrive whole within S seconds, however slowly it\n"
        "                         trickles in (default 5), or the connection is closed with 408\n"
        "  --per-address-limit N  connections one client address may have open before their requests\n"
        "                         are in (default 64); more are closed with 503\n"
        "  --help                 show this text\n"
        "  --version              show the version\n\n"
        "Once listening it prints \"listening on http://ADDRESS:PORT/\" and serves until SIGINT or SIGTERM.\n"
        "Each connection carries one request. Problems are reported on standard error, at most %u lines\n"
        "a second and never waited for: lines that a full or unread log cannot take are dropped and counted.\n",
        kDefaultDatabase, Log::kLinesPerSecond);
}

bool ParseListen(const std::string& text, sockaddr_in& address) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) {
        return false;
    }
    const std::optional<std::uint32_t> host = ParseIpv4(std::string_view(text).substr(0, colon));
    const std::string portText = text.substr(colon + 1);
    if (!host || portText.empty() || portText.size() > 5 ||
        portText.find_first_not_of("0123456789") != std::string::npos || std::stoul(portText) > 65535) {
        return false;
    }
    address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(*host);
    address.sin_port = htons(static_cast<std::uint16_t>(std::stoul(portText)));
    return true;
}

MHD_Result Reply(MHD_Connection* connection, unsigned status, const std::string& body) {
    MHD_Response* response =
        MHD_create_response_from_buffer(body.size(), const_cast<char*>(body.data()), MHD_RESPMEM_MUST_COPY);
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONTENT_TYPE,
                            status == MHD_HTTP_OK ? "text/html; charset=utf-8" : "text/plain; charset=utf-8");
    MHD_add_response_header(response, MHD_HTTP_HEADER_CACHE_CONTROL, "no-store");
    // One request a connection: every request then passes the gate that bounds how long its head may take.
    MHD_add_response_header(response, MHD_HTTP_HEADER_CONNECTION, "close");
    if (status == MHD_HTTP_METHOD_NOT_ALLOWED) {
        MHD_add_response_header(response, MHD_HTTP_HEADER_ALLOW, "GET, HEAD");
    }
    const MHD_Result queued = MHD_queue_response(connection, status, response);
    MHD_destroy_response(response);
    return queued;
}

// The address a query names: an IPv4 address as it is, or the first IPv4 address of a host name.
std::optional<std::uint32_t> AddressOf(const std::string& query, bool resolveNames) {
    if (const std::optional<std::uint32_t> address = ParseIpv4(query)) {
        return address;
    }
    if (!resolveNames || !IsHostName(query)) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(query.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    const std::uint32_t address = ntohl(reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr);
    freeaddrinfo(found);
    return address;
}

MHD_Result Answer(void* context, MHD_Connection* connection, const char* url, const char* method, const char* version,
                  const char*, std::size_t* uploadSize, void** requestState) {
    const auto& service = *static_cast<const Service*>(context);
    const bool firstCall = *requestState == nullptr;
    *requestState = connection;
    if (std::strcmp(version, MHD_HTTP_VERSION_1_0) != 0 &&
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_HOST) == nullptr) {
        return Reply(connection, MHD_HTTP_BAD_REQUEST, "an HTTP/1.1 request names its Host\n");
    }
    if (std::strcmp(method, MHD_HTTP_METHOD_GET) != 0 && std::strcmp(method, MHD_HTTP_METHOD_HEAD) != 0) {
        return Reply(connection, MHD_HTTP_METHOD_NOT_ALLOWED, "method not allowed\n");
    }
    // A lookup carries no body; one that announces or sends one is refused before it is read.
    if (*uploadSize != 0 ||
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_CONTENT_LENGTH) != nullptr ||
        MHD_lookup_connection_value(connection, MHD_HEADER_KIND, MHD_HTTP_HEADER_TRANSFER_ENCODING) != nullptr) {
        *uploadSize = 0;
        return Reply(connection, MHD_HTTP_BAD_REQUEST, "a lookup has no body\n");
    }
    if (firstCall) {
        // Answering before the request is complete would make the library close the connection afterwards;
        // the second call comes once the head is through, and keeps the connection for the next request.
        return MHD_YES;
    }
    if (std::strcmp(url, "/") != 0) {
        return Reply(connection, MHD_HTTP_NOT_FOUND, "not found\n");
    }
    const char* ip = nullptr;
    std::size_t ipLength = 0;
    MHD_lookup_connection_value_n(connection, MHD_GET_ARGUMENT_KIND, "IP", 2, &ip, &ipLength);
    if (ip != nullptr && ipLength > kMaxQuery) {
        return Reply(connection, MHD_HTTP_BAD_REQUEST, "address too long\n");
    }
    // "%00" decodes to a zero byte that would end the address early; the gate refuses it, and so does the page.
    if (ip != nullptr && std::strlen(ip) != ipLength) {
        return Reply(connection, MHD_HTTP_BAD_REQUEST, "malformed address\n");
    }

    std::string caller;
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
    if (info != nullptr && info->client_addr != nullptr && info->client_addr->sa_family == AF_INET) {
        caller = DottedDecimal(ntohl(reinterpret_cast<const sockaddr_in*>(info->client_addr)->sin_addr.s_addr));
    }
    const std::optional<std::uint32_t> callerNumber = ParseIpv4(caller);
    const std::string callerLocation = callerNumber ? service.locator->CountryOf(*callerNumber) : std::string();

    // Without a query the page looks up the caller itself.
    const std::string query = ip != nullptr ? ip : caller;
    std::optional<Located> result;
    if (const std::optional<std::uint32_t> address = AddressOf(query, service.resolveNames)) {
        const std::string& country = service.locator->CountryOf(*address);
        if (!country.empty()) {
            result = Located{DottedDecimal(*address), *address, country};
        }
    }
    return Reply(connection, MHD_HTTP_OK, AnswerPage(caller, callerLocation, result));
}

// The soft limit on open descriptors raised to the hard one, since every connection holds one; the limit now.
rlim_t RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return 1024;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0) {
            return raised.rlim_cur;
        }
    }
    return limit.rlim_cur;
}

int Listen(const sockaddr_in& address) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    if (listener < 0 || setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, SOMAXCONN) != 0) {
        if (listener >= 0) {
            close(listener);
        }
        return -1;
    }
    return listener;
}

void LogFromDaemon(void*, const char* format, va_list arguments) {
    Log::Format(format, arguments);
}

// A count option's value: a whole number from 1 to `most`.
std::optional<unsigned> ParseCount(std::string_view text, unsigned most) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(std::string(text));
    return value >= 1 && value <= most ? std::optional<unsigned>(static_cast<unsigned>(value)) : std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
        std::optional<unsigned> count;
        if (arg == "--help" || arg == "-h") {
            PrintHelp(stdout);
            return 0;
        } else if (arg == "--version") {
            std::printf("tolvar-lookupd %s\n", TOLVAR_VERSION);
            return 0;
        } else if (arg == "--listen" && hasValue) {
            options.listen = argv[++i];
        } else if (arg == "--database" && hasValue) {
            options.database = argv[++i];
        } else if (arg == "--threads" && hasValue) {
            options.threads = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        } else if (arg == "--no-resolve") {
            options.resolveNames = false;
        } else if (arg == "--request-deadline" && hasValue && (count = ParseCount(argv[i + 1], 3600))) {
            options.requestDeadline = *count;
            ++i;
        } else if (arg == "--per-address-limit" && hasValue && (count = ParseCount(argv[i + 1], kConnectionLimit))) {
            options.perAddressLimit = *count;
            ++i;
        } else {
            std::fprintf(stderr, "tolvar-lookupd: unknown or incomplete option %s\n\n", argv[i]);
            PrintHelp(stderr);
            return 2;
        }
    }
    sockaddr_in listenAddress{};
    if (!ParseListen(options.listen, listenAddress)) {
        std::fprintf(stderr, "tolvar-lookupd: --listen wants an IPv4 ADDRESS:PORT, not %s\n", options.listen.c_str());
        return 2;
    }
    const std::unique_ptr<Locator> locator = Locator::Open(options.database);
    if (!locator) {
        std::fprintf(stderr, "tolvar-lookupd: cannot open the GeoIP country database %s\n", options.database.c_str());
        return 1;
    }
    if (options.threads == 0) {
        options.threads = std::max(1u, std::thread::hardware_concurrency());
    }
    // Waiting and answered connections each take a descriptor; a low limit shrinks both halves alike.
    const rlim_t descriptors = RaiseDescriptorLimit();
    const unsigned connectionLimit =
        static_cast<unsigned>(std::clamp<rlim_t>(descriptors > 64 ? (descriptors - 64) / 2 : 1, 1, kConnectionLimit));

    // Stop signals are taken by sigwait below, not delivered to whichever thread happens to run.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    // A log reader that goes away must not end the service: a write to it then only fails.
    std::signal(SIGPIPE, SIG_IGN);

    const int listener = Listen(listenAddress);
    if (listener < 0) {
        std::fprintf(stderr, "tolvar-lookupd: cannot listen on %s: %s\n", options.listen.c_str(), std::strerror(errno));
        return 1;
    }
    // The daemon only answers: the gate accepts each connection and hands it over once its request head is in.
    // Its own per-address count is a backstop, twice the gate's: an answered connection is cleared away a moment
    // after its client has read the answer and may already have sent the next head through the gate.
    Service service{locator.get(), options.resolveNames};
    MHD_Daemon* daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ITC | MHD_USE_NO_LISTEN_SOCKET | MHD_USE_ERROR_LOG, 0,
        nullptr, nullptr, &Answer, &service, MHD_OPTION_EXTERNAL_LOGGER, &LogFromDaemon, nullptr,
        MHD_OPTION_THREAD_POOL_SIZE, options.threads, MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_CONNECTION_LIMIT,
        connectionLimit, MHD_OPTION_PER_IP_CONNECTION_LIMIT, 2 * options.perAddressLimit,
        MHD_OPTION_CONNECTION_MEMORY_LIMIT, kConnectionMemory, MHD_OPTION_END);
    if (daemon == nullptr) {
        std::fprintf(stderr, "tolvar-lookupd: cannot start the HTTP daemon\n");
        close(listener);
        return 1;
    }
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &boundLength);

    RequestGate::Limits limits;
    limits.deadline = std::chrono::seconds(options.requestDeadline);
    limits.perAddress = options.perAddressLimit;
    limits.held = connectionLimit;
    limits.headBytes = kHeadBytes;
    RequestGate gate(listener, limits, [daemon](int socket, const sockaddr_in& peer) {
        // On refusal the daemon has closed the socket and said why through the log.
        MHD_add_connection(daemon, socket, reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    });
    std::thread gateThread([&gate] { gate.Run(); });

    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &listenAddress.sin_addr, host, sizeof host);
    std::printf("listening on http://%s:%u/\n", host, static_cast<unsigned>(ntohs(bound.sin_port)));
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    gate.Stop();
    gateThread.join();
    MHD_stop_daemon(daemon);
    Log::Flush(std::chrono::milliseconds(200));
    return 0;
}
