#include "AnswerPage.h"
#include "LoopbackHttp.h"
#include "runtime/Gbk.h"
#include "runtime/HttpFetch.h"
#include "tools/IpLookup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

IpLookup::LookupAnswer Ask(const LookupdProcess& service, const std::string& typed) {
    return IpLookup::ParseLookupAnswer(
        IpLookup::PageTextOf(HttpGet(IpLookup::QueryAddress(service.Url(), typed), HttpLimits{2000, 5000})));
}

std::string Get(const std::string& target) {
    return "GET " + target + " HTTP/1.0\r\n\r\n";
}

using Clock = std::chrono::steady_clock;

// A socket from loopback address `source` to the service, connected or, unless `wait`, still connecting.
int ConnectFrom(const char* source, std::uint16_t port, bool wait = true) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (wait ? 0 : SOCK_NONBLOCK), 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    inet_pton(AF_INET, source, &address.sin_addr);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    address.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.1", &address.sin_addr);
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        close(fd);
        return -1;
    }
    return fd;
}

// Reads what the service answers on `fd` until it closes the connection or `until` passes.
std::string ReadAnswer(int fd, Clock::time_point until) {
    std::string answer;
    char buffer[4096];
    while (Clock::now() < until) {
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 20) != 1) {
            continue;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            break;
        }
        answer.append(buffer, static_cast<std::size_t>(got));
    }
    return answer;
}

// Whether a lookup from 127.0.0.2 is answered in full within `limit`.
bool AnsweredWithin(std::uint16_t port, std::chrono::milliseconds limit) {
    const Clock::time_point start = Clock::now();
    const int fd = ConnectFrom("127.0.0.2", port);
    if (fd < 0) {
        return false;
    }
    const std::string request = "GET /?IP=8.8.8.8 HTTP/1.1\r\nHost: lookup\r\n\r\n";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    const std::string answer = ReadAnswer(fd, start + limit);
    close(fd);
    return StatusOf(answer) == 200 && BodyOf(answer).find("</html>") != std::string::npos &&
           Clock::now() < start + limit;
}

bool RaiseDescriptorLimit(rlim_t wanted) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = std::max(limit.rlim_cur, std::min(wanted, limit.rlim_max));
    setrlimit(RLIMIT_NOFILE, &limit);
    return limit.rlim_cur >= wanted;
}

TEST(LookupdTest, KnownAddressesGiveTheirCountryInChinese) {
    LookupdProcess service;
    const std::vector<std::pair<std::string, std::string>> known{
        {"8.8.8.8", "美国"}, {"114.114.114.114", "中国"}, {"202.12.27.33", "日本"}, {"193.0.6.139", "荷兰"}};
    for (const auto& [address, country] : known) {
        const IpLookup::LookupAnswer answer = Ask(service, address);
        EXPECT_FALSE(answer.nothingFound) << address;
        EXPECT_EQ(answer.address, address);
        EXPECT_EQ(Gbk::ToUtf8(answer.location), country) << address;
    }
    // The number between the arrows is the address as one decimal value.
    const std::string page = BodyOf(RawExchange(service.Port(), Get("/?IP=8.8.8.8")));
    EXPECT_NE(page.find("8.8.8.8 ==>> 134744072 ==>> "), std::string::npos);
    // The caller sees its own address, which on loopback has no country.
    const IpLookup::OwnAddress own = IpLookup::ParseOwnAddress(IpLookup::PageTextOf(HttpGet(service.Url())));
    EXPECT_EQ(own.address, "127.0.0.1");
    EXPECT_EQ(own.location, "");
}

TEST(LookupdTest, PrivateUnknownAndMalformedAddressesGiveTheEmptyStatus) {
    LookupdProcess service({"--no-resolve"});
    for (const std::string typed : {"10.1.2.3", "192.168.1.1", "127.0.0.1", "0.0.0.0", "300.1.2.3", "1.2.3",
                                    "8.8.8.8 -t", "", "localhost", "not a name!"}) {
        const IpLookup::LookupAnswer answer = Ask(service, typed);
        EXPECT_TRUE(answer.nothingFound) << typed;
        EXPECT_EQ(answer.address, "") << typed;
    }
}

TEST(LookupdTest, NamesAreResolvedUnlessSwitchedOff) {
    // localhost comes from the hosts file and is a loopback address, so it resolves but has no country.
    LookupdProcess service;
    const std::string page = BodyOf(RawExchange(service.Port(), Get("/?IP=localhost")));
    EXPECT_NE(page.find("<span id=\"status\" class=\"info1\">\r\n" + std::string(32, ' ')), std::string::npos);
    EXPECT_TRUE(IsHostName("localhost"));
    EXPECT_TRUE(IsHostName("a-b.example"));
    for (const std::string_view notName : {"1.2.3.4", "300.1.2.3", "a..b", "-", "a b", "x_y", ""}) {
        EXPECT_FALSE(IsHostName(notName)) << notName;
    }
    EXPECT_FALSE(IsHostName(std::string(64, 'a')));
}

TEST(LookupdTest, BadRequestsAreRefusedAndTheServiceKeepsServing) {
    LookupdProcess service;
    const std::uint16_t port = service.Port();
    EXPECT_EQ(StatusOf(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nno colon here\r\n\r\n")), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello")), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/?IP=" + std::string(300, '1')))), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, "POST / HTTP/1.0\r\nContent-Length: 2\r\n\r\nab")), 405);
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/other"))), 404);
    // Heads past the per-connection memory bound are refused by the server library itself.
    const int huge =
        StatusOf(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nX: " + std::string(40000, 'x') + "\r\n\r\n"));
    EXPECT_GE(huge, 400);
    EXPECT_LT(huge, 500);
    // Lines that are no HTTP at all get no page but an answer that says so.
    EXPECT_EQ(StatusOf(RawExchange(port, "GARBAGE\r\n\r\n", 1)), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, std::string("\0\x01\x02\r\n\r\n", 7), 1)), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, "GET / HTTP/1.1\r\n\r\n", 1)), 400);
    // A zero byte would end the address early, and 1.0.0.1 has a country to show for it.
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/?IP=1.0.0.1%00evil"), 1)), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/%00/?IP=1.0.0.1"), 1)), 400);

    EXPECT_TRUE(service.Running());
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/?IP=8.8.8.8"))), 200);
    EXPECT_EQ(service.Stop(), 0);
}

TEST(LookupdTest, ServesManyClientsAtOnce) {
    LookupdProcess service;
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 40; ++i) {
        clients.emplace_back([&] {
            if (Gbk::ToUtf8(Ask(service, "114.114.114.114").location) == "中国") {
                ++answered;
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(answered, 40);
}

TEST(LookupdTest, IdleConnectionsLeaveOthersServed) {
    constexpr int kFlood = 1500;
    if (!RaiseDescriptorLimit(kFlood + 200)) {
        GTEST_SKIP() << "the descriptor limit allows no " << kFlood << " sockets";
    }
    LookupdProcess service;
    // First from one address, then from 30 addresses, more than the service will hold waiting at once.
    for (const int sources : {1, 30}) {
        std::vector<int> flood;
        for (int i = 0; i < kFlood; ++i) {
            const std::string source = sources == 1 ? "127.0.0.1" : "127.0.1." + std::to_string(1 + i % sources);
            if (const int fd = ConnectFrom(source.c_str(), service.Port(), false); fd >= 0) {
                flood.push_back(fd);
            }
        }
        EXPECT_EQ(flood.size(), static_cast<std::size_t>(kFlood));
        int answered = 0;
        for (int i = 0; i < 10; ++i) {
            answered += AnsweredWithin(service.Port(), std::chrono::milliseconds(1000)) ? 1 : 0;
        }
        EXPECT_EQ(answered, 10) << "with idle connections from " << sources << " addresses";
        for (const int fd : flood) {
            close(fd);
        }
    }
}

TEST(LookupdTest, AHeadTricklingInIsCutAtTheDeadline) {
    LookupdProcess service({"--request-deadline", "1"});
    const Clock::time_point start = Clock::now();
    const int fd = ConnectFrom("127.0.0.1", service.Port());
    ASSERT_GE(fd, 0);
    std::string answer;
    // A header line every 200 ms keeps any idle timeout from ever running out.
    send(fd, "GET / HTTP/1.1\r\n", 16, MSG_NOSIGNAL);
    for (int i = 0; i < 50 && answer.empty(); ++i) {
        send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        answer = ReadAnswer(fd, Clock::now() + std::chrono::milliseconds(200));
    }
    const auto took = Clock::now() - start;
    close(fd);
    EXPECT_EQ(StatusOf(answer), 408);
    EXPECT_GE(took, std::chrono::milliseconds(900));
    EXPECT_LT(took, std::chrono::seconds(4));
    // Cutting it off stops nothing else.
    EXPECT_TRUE(AnsweredWithin(service.Port(), std::chrono::milliseconds(1000)));
}

TEST(LookupdTest, AnUnreadStandardErrorNeverStopsTheService) {
    int pipeEnds[2];
    ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
    fcntl(pipeEnds[1], F_SETPIPE_SZ, 4096);
    // The service inherits the pipe as its standard error; nobody ever reads it.
    const int savedError = dup(STDERR_FILENO);
    dup2(pipeEnds[1], STDERR_FILENO);
    std::optional<LookupdProcess> service;
    try {
        service.emplace();
    } catch (...) {
    }
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    close(pipeEnds[1]);
    ASSERT_TRUE(service);
    const std::uint16_t port = service->Port();
    // Connections that end inside their request head, and more connections from one address than it may hold:
    // causes for complaint, far more of them than the pipe takes lines.
    for (int i = 0; i < 300; ++i) {
        const int fd = ConnectFrom("127.0.0.1", port);
        send(fd, "GET / HTTP/1.1\r\nHo", 19, MSG_NOSIGNAL);
        close(fd);
    }
    std::vector<int> idle;
    for (int i = 0; i < 200; ++i) {
        idle.push_back(ConnectFrom("127.0.0.1", port, false));
    }
    int answered = 0;
    for (int i = 0; i < 5; ++i) {
        answered += AnsweredWithin(port, std::chrono::milliseconds(1000)) ? 1 : 0;
    }
    EXPECT_EQ(answered, 5);
    for (const int fd : idle) {
        close(fd);
    }
    EXPECT_EQ(service->Stop(), 0);
    close(pipeEnds[0]);
}

TEST(LookupdTest, OptionsAreCheckedBeforeListening) {
    const auto run = [](const std::string& arguments) {
        const std::string command = std::string(TOLVAR_LOOKUPD) + " " + arguments + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run("--listen 127.0.0.1"), 2);
    EXPECT_EQ(run("--listen 127.0.0.1:70000"), 2);
    EXPECT_EQ(run("--bogus"), 2);
    EXPECT_EQ(run("--request-deadline 0"), 2);
    EXPECT_EQ(run("--per-address-limit x"), 2);
    EXPECT_EQ(run("--listen 127.0.0.1:0 --database /nonexistent/GeoIP.dat"), 1);
}

} // namespace
