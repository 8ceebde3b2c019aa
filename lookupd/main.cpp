// tolvar-lookupd: the IP-lookup page Tolvar asks about addresses. It answers GET / with the caller's own address
// and GET /?IP=<address or name> with the address's country, from the GeoIP country database, in Chinese.
#include "AnswerPage.h"
#include "Locator.h"

#include <microhttpd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

namespace {

constexpr const char* kDefaultDatabase = "/usr/share/GeoIP/GeoIP.dat";
// Longer than any host name; a longer value is a malformed request, not a name.
constexpr std::size_t kMaxQuery = 255;
// Per connection: enough for any honest request head, small enough that a flood of them costs little.
constexpr std::size_t kConnectionMemory = 16 * 1024;

struct Options {
    std::string listen = "127.0.0.1:8937";
    std::string database = kDefaultDatabase;
    unsigned threads = 0;
    bool resolveNames = true;
};

struct Service {
    const Locator* locator;
    bool resolveNames;
};

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "Usage: tolvar-lookupd [OPTIONS]\n"
                 "Answers Tolvar's IP lookups: GET / shows the caller's address and country, GET /?IP=ADDRESS\n"
                 "the country of an IPv4 address or host name, in Chinese, as a UTF-8 HTML page.\n\n"
                 "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8937; port 0 picks a free port)\n"
                 "  --database FILE        GeoIP country database (default %s)\n"
                 "  --threads N            worker threads (default: one per processor)\n"
                 "  --no-resolve           answer only IPv4 addresses, never asking the resolver about names\n"
                 "  --help                 show this text\n"
                 "  --version              show the version\n\n"
                 "Once listening it prints \"listening on http://ADDRESS:PORT/\" and serves until SIGINT or SIGTERM.\n",
                 kDefaultDatabase);
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

MHD_Result Answer(void* context, MHD_Connection* connection, const char* url, const char* method, const char*,
                  const char*, std::size_t* uploadSize, void** requestState) {
    const auto& service = *static_cast<const Service*>(context);
    const bool firstCall = *requestState == nullptr;
    *requestState = connection;
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
    const char* ip = MHD_lookup_connection_value(connection, MHD_GET_ARGUMENT_KIND, "IP");
    if (ip != nullptr && std::strlen(ip) > kMaxQuery) {
        return Reply(connection, MHD_HTTP_BAD_REQUEST, "address too long\n");
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

} // namespace

int main(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        const bool hasValue = i + 1 < argc;
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

    // Stop signals are taken by sigwait below, not delivered to whichever thread happens to run.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    Service service{locator.get(), options.resolveNames};
    MHD_Daemon* daemon = MHD_start_daemon(
        MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_EPOLL | MHD_USE_ERROR_LOG, 0, nullptr, nullptr, &Answer, &service,
        MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&listenAddress), MHD_OPTION_THREAD_POOL_SIZE, options.threads,
        MHD_OPTION_CONNECTION_TIMEOUT, 10u, MHD_OPTION_CONNECTION_LIMIT, 1000u, MHD_OPTION_CONNECTION_MEMORY_LIMIT,
        kConnectionMemory, MHD_OPTION_END);
    if (daemon == nullptr) {
        std::fprintf(stderr, "tolvar-lookupd: cannot listen on %s\n", options.listen.c_str());
        return 1;
    }
    const MHD_DaemonInfo* bound = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &listenAddress.sin_addr, host, sizeof host);
    std::printf("listening on http://%s:%u/\n", host, bound != nullptr ? bound->port : 0u);
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    MHD_stop_daemon(daemon);
    return 0;
}
