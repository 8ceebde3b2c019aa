// Load on tolvar-lookupd from many clients at once on loopback, for a bounded time: requests per second and
// latency percentiles. Usage: LookupdLoad TOLVAR-LOOKUPD [CLIENTS [SECONDS [keep-alive|close]]]
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const char* const kAddresses[] = {"8.8.8.8", "114.114.114.114", "1.1.1.1", "202.12.27.33", "193.0.6.139", "10.0.0.1"};

int Connect(std::uint16_t port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// Sends one request and reads its whole answer; false on any failure.
bool Exchange(int fd, const std::string& request, std::string& buffer, bool untilClose) {
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        return false;
    }
    buffer.clear();
    char chunk[8192];
    std::size_t need = std::string::npos;
    while (true) {
        const ssize_t got = recv(fd, chunk, sizeof chunk, 0);
        if (got <= 0) {
            return untilClose && buffer.compare(0, 12, "HTTP/1.1 200") == 0;
        }
        buffer.append(chunk, static_cast<std::size_t>(got));
        if (need == std::string::npos) {
            const std::size_t end = buffer.find("\r\n\r\n");
            if (end == std::string::npos) {
                continue;
            }
            const std::size_t length = buffer.find("Content-Length: ");
            if (length == std::string::npos || length > end) {
                if (untilClose) {
                    continue;
                }
                return false;
            }
            need = end + 4 + std::strtoul(buffer.c_str() + length + 16, nullptr, 10);
        }
        if (buffer.size() >= need) {
            return buffer.compare(0, 12, "HTTP/1.1 200") == 0;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TOLVAR-LOOKUPD [CLIENTS [SECONDS [keep-alive|close]]]\n", argv[0]);
        return 2;
    }
    const int clients = argc > 2 ? std::atoi(argv[2]) : 50;
    const int seconds = std::clamp(argc > 3 ? std::atoi(argv[3]) : 5, 1, 60);
    const bool keepAlive = argc <= 4 || std::strcmp(argv[4], "close") != 0;

    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) {
        return 1;
    }
    const pid_t service = fork();
    if (service == 0) {
        dup2(out[1], STDOUT_FILENO);
        // All clients come from one address, which the service would otherwise hold to its default share.
        const std::string perAddress = std::to_string(std::max(clients, 64));
        execl(argv[1], argv[1], "--listen", "127.0.0.1:0", "--per-address-limit", perAddress.c_str(),
              static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string line;
    char c = 0;
    while (read(out[0], &c, 1) == 1 && c != '\n') {
        line += c;
    }
    const std::size_t colon = line.rfind(':');
    const auto port = static_cast<std::uint16_t>(colon == std::string::npos ? 0 : std::atoi(line.c_str() + colon + 1));
    if (port == 0) {
        std::fprintf(stderr, "tolvar-lookupd did not start\n");
        return 1;
    }

    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(seconds);
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<long> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] {
            std::string buffer;
            int fd = -1;
            for (std::size_t n = static_cast<std::size_t>(i); Clock::now() < deadline; ++n) {
                const std::string request = std::string("GET /?IP=") + kAddresses[n % std::size(kAddresses)] +
                                            (keepAlive ? " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n" : " HTTP/1.0\r\n\r\n");
                const Clock::time_point start = Clock::now();
                if (fd < 0) {
                    fd = Connect(port);
                }
                const bool ok = fd >= 0 && Exchange(fd, request, buffer, !keepAlive);
                if (ok) {
                    latencies[static_cast<std::size_t>(i)].push_back(
                        std::chrono::duration<double, std::milli>(Clock::now() - start).count());
                } else {
                    ++failures;
                }
                // A service that answers one request a connection says so, and the client connects anew.
                const bool closing = buffer.find("\r\nConnection: close\r\n") < buffer.find("\r\n\r\n");
                if (!ok || !keepAlive || closing) {
                    if (fd >= 0) {
                        close(fd);
                    }
                    fd = -1;
                }
            }
            if (fd >= 0) {
                close(fd);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    kill(service, SIGTERM);
    waitpid(service, nullptr, 0);

    std::vector<double> all;
    for (const std::vector<double>& each : latencies) {
        all.insert(all.end(), each.begin(), each.end());
    }
    std::sort(all.begin(), all.end());
    if (all.empty()) {
        std::fprintf(stderr, "no request answered\n");
        return 1;
    }
    const auto at = [&](double q) { return all[std::min(all.size() - 1, static_cast<std::size_t>(q * all.size()))]; };
    std::printf("tolvar-lookupd, %d clients, %s, %d s: %zu requests, %.0f per second; latency p50 %.2f ms, "
                "p99 %.2f ms, max %.2f ms; %ld failed\n",
                clients, keepAlive ? "kept-alive connections" : "a new connection per request", seconds, all.size(),
                static_cast<double>(all.size()) / seconds, at(0.50), at(0.99), all.back(), failures.load());
    return 0;
}
