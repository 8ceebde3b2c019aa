// tolvar-lookupd: the IP-lookup page Tolvar asks about addresses. It answers GET / with the caller's own address
// and GET /?IP=<address or name> with the address's country, from the GeoIP country database, in Chinese.
#include "AnswerPage.h"
#include "Locator.h"
#include "Log.h"
#include "Resolver.h"
#include "Server.h"
#include "runtime/TcpConnect.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kDefaultDatabase = "/usr/share/GeoIP/GeoIP.dat";
// The largest request head taken.
constexpr std::size_t kHeadBytes = 8 * 1024;
// Connections waiting for a request, and connections from one address, each at most this many.
constexpr unsigned kConnectionLimit = 1000;
// Worker threads at most, however many processors there are or are asked for.
constexpr unsigned kThreadLimit = 64;
// Threads that resolve names, and names waiting for one: a resolver that never answers ties up no more than this.
constexpr unsigned kResolverThreads = 8;
constexpr unsigned kResolverQueue = 64;
// Tolvar waits a few seconds for a lookup; a name that takes longer is answered as found nowhere before that.
constexpr std::chrono::seconds kResolveDeadline{2};

struct Options {
    std::string listen = "127.0.0.1:8937";
    std::string database = kDefaultDatabase;
    unsigned threads = 0;
    bool resolveNames = true;
    unsigned requestDeadline = 5;
    unsigned perAddressLimit = 64;
    unsigned keepAlive = 4;
};

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "Usage: tolvar-lookupd [OPTIONS]\n"
                 "Answers Tolvar's IP lookups: GET / shows the caller's address and country, GET /?IP=ADDRESS\n"
                 "the country of an IPv4 address or host name, in Chinese, as a UTF-8 HTML page.\n\n"
                 "  --listen ADDRESS:PORT  where to listen (default 127.0.0.1:8937; port 0 picks a free port)\n"
                 "  --database FILE        GeoIP country database (default %s)\n"
                 "  --threads N            worker threads, from 1 to %u (default: one per processor)\n"
                 "  --no-resolve           answer only IPv4 addresses, never asking the resolver about names\n"
                 "  --request-deadline S   a request head must arrive whole within S seconds of its first byte,\n"
                 "                         however slowly it trickles in (default 5), or the connection is closed\n"
                 "                         with 408\n"
                 "  --keep-alive S         a connection may stay open idle between requests for S seconds\n"
                 "                         (default 4)\n"
                 "  --per-address-limit N  connections one client address may have open at once, waiting for a\n"
                 "                         request or idle after one (default 64); more are closed with 503\n"
                 "  --help                 show this text\n"
                 "  --version              show the version\n\n"
                 "Once listening it prints \"listening on http://ADDRESS:PORT/\" and serves until SIGINT or SIGTERM.\n"
                 "Connections stay open for further requests, which may be pipelined. A host name is resolved without\n"
                 "holding up other clients; one not resolved within %u seconds is answered as found nowhere.\n"
                 "Problems are reported on standard error, at most %u lines a second and never waited for: lines\n"
                 "that a full or unread log cannot take are dropped and counted.\n",
                 kDefaultDatabase, kThreadLimit, static_cast<unsigned>(kResolveDeadline.count()), Log::kLinesPerSecond);
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

// The soft limit on open descriptors, once raised to the hard one, since every connection holds one.
rlim_t DescriptorLimit() {
    Tcp::RaiseOpenFileLimit();
    rlimit limit{};
    return getrlimit(RLIMIT_NOFILE, &limit) == 0 ? limit.rlim_cur : 1024;
}

int Listen(const sockaddr_in& address, unsigned requestDeadline) {
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
    // A connection reaches the service once its first bytes have come, so it is answered at once, and one that
    // sends nothing is left to the kernel for about the request deadline. Where the option is missing, the
    // service's own deadlines do the same, a little later.
    const int deferSeconds = static_cast<int>(requestDeadline);
    setsockopt(listener, IPPROTO_TCP, TCP_DEFER_ACCEPT, &deferSeconds, sizeof deferSeconds);
    return listener;
}

// A count option's value: a whole number from 1 to `most`.
std::optional<unsigned> ParseCount(std::string_view text, unsigned most) {
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string_view::npos) {
        return std::nullopt;
    }
    const unsigned long value = std::stoul(std::string(text));
    return value >= 1 && value <= most ? std::optional<unsigned>(static_cast<unsigned>(value)) : std::nullopt;
}

// Reads the command line into `options`; the exit code to end with at once (after --help, --version or a bad
// option), or nothing to go on.
std::optional<int> ReadOptions(int argc, char** argv, Options& options) {
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
            count = ParseCount(argv[++i], kThreadLimit);
            if (!count) {
                std::fprintf(stderr, "tolvar-lookupd: --threads wants a whole number from 1 to %u, not %s\n",
                             kThreadLimit, argv[i]);
                return 2;
            }
            options.threads = *count;
        } else if (arg == "--no-resolve") {
            options.resolveNames = false;
        } else if (arg == "--request-deadline" && hasValue && (count = ParseCount(argv[i + 1], 3600))) {
            options.requestDeadline = *count;
            ++i;
        } else if (arg == "--keep-alive" && hasValue && (count = ParseCount(argv[i + 1], 3600))) {
            options.keepAlive = *count;
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
    return std::nullopt;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (const std::optional<int> end = ReadOptions(argc, argv, options)) {
        return *end;
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
    options.threads = std::min(options.threads, kThreadLimit);
    // Waiting connections and those being answered each take a descriptor; a low limit shrinks both halves alike.
    const rlim_t descriptors = DescriptorLimit();
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

    const int listener = Listen(listenAddress, options.requestDeadline);
    if (listener < 0) {
        std::fprintf(stderr, "tolvar-lookupd: cannot listen on %s: %s\n", options.listen.c_str(), std::strerror(errno));
        return 1;
    }
    sockaddr_in bound{};
    socklen_t boundLength = sizeof bound;
    getsockname(listener, reinterpret_cast<sockaddr*>(&bound), &boundLength);

    Server::Limits limits;
    limits.headDeadline = std::chrono::seconds(options.requestDeadline);
    limits.idleLimit = std::chrono::seconds(options.keepAlive);
    limits.resolveDeadline = kResolveDeadline;
    limits.perAddress = options.perAddressLimit;
    limits.waiting = connectionLimit;
    limits.headBytes = kHeadBytes;
    std::optional<Resolver> resolver;
    if (options.resolveNames) {
        resolver.emplace(kResolverThreads, kResolverQueue);
    }
    auto server =
        std::make_unique<Server>(listener, options.threads, limits, *locator, resolver ? &*resolver : nullptr);

    char host[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &listenAddress.sin_addr, host, sizeof host);
    std::printf("listening on http://%s:%u/\n", host, static_cast<unsigned>(ntohs(bound.sin_port)));
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    server.reset();
    Log::Flush(std::chrono::milliseconds(200));
    return 0;
}
