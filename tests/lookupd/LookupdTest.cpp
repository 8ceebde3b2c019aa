#include "AnswerPage.h"
#include "LoopbackHttp.h"
#include "runtime/Gbk.h"
#include "runtime/HttpFetch.h"
#include "support/Loopback.h"
#include "tools/IpLookup.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

IpLookup::LookupAnswer Ask(const LookupdProcess& service, const std::string& typed) {
    return IpLookup::ParseLookupAnswer(
        IpLookup::PageTextOf(HttpGet(IpLookup::QueryAddress(service.Url(), typed), HttpLimits{2000, 5000}).body));
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

// Reads up to `count` whole answers from `fd`, each as long as its Content-Length says, until `until` passes or the
// service closes the connection; `closed` tells which of the two ended it, if either did.
std::vector<std::string> ReadAnswers(int fd, std::size_t count, Clock::time_point until, bool* closed = nullptr) {
    std::vector<std::string> answers;
    std::string received;
    char buffer[16384];
    bool ended = false;
    while (answers.size() < count && Clock::now() < until) {
        const std::size_t end = received.find("\r\n\r\n");
        const std::size_t length = received.find("Content-Length: ");
        if (end != std::string::npos && length < end) {
            const std::size_t size = end + 4 + std::stoul(received.substr(length + 16));
            if (received.size() >= size) {
                answers.push_back(received.substr(0, size));
                received.erase(0, size);
                continue;
            }
        }
        pollfd readable{fd, POLLIN, 0};
        if (poll(&readable, 1, 20) != 1) {
            continue;
        }
        const ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            ended = true;
            break;
        }
        received.append(buffer, static_cast<std::size_t>(got));
    }
    if (closed != nullptr) {
        *closed = ended;
    }
    return answers;
}

bool SendText(int fd, std::string_view text) {
    return send(fd, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

// How long a lookup may take while other connections try to hold the service up: well inside the deadlines
// (seconds) those connections would otherwise be cut at, and ample for a loaded machine.
constexpr std::chrono::milliseconds kPrompt{1500};

// Whether a lookup from 127.0.0.2 is answered in full within `limit`.
bool AnsweredWithin(std::uint16_t port, std::chrono::milliseconds limit, const std::string& ip = "8.8.8.8") {
    const Clock::time_point start = Clock::now();
    const int fd = ConnectFrom("127.0.0.2", port);
    if (fd < 0) {
        return false;
    }
    SendText(fd, "GET /?IP=" + ip + " HTTP/1.1\r\nHost: lookup\r\n\r\n");
    const std::vector<std::string> answer = ReadAnswers(fd, 1, start + limit);
    close(fd);
    return answer.size() == 1 && StatusOf(answer[0]) == 200 && BodyOf(answer[0]).find("</html>") != std::string::npos;
}

// The address a lookup page reports as found, or "" for a page that found nothing.
std::string FoundIn(const std::string& answer) {
    constexpr std::string_view kMarker = "查询结果[1]: ";
    const std::string body = BodyOf(answer);
    const std::size_t open = body.find(kMarker);
    if (open == std::string::npos) {
        return "";
    }
    const std::size_t start = open + kMarker.size();
    return body.substr(start, body.find(' ', start) - start);
}

// Sends `request` from loopback address `source` and reads until the service closes the connection.
std::string RawExchangeFrom(const char* source, std::uint16_t port, const std::string& request) {
    const int fd = ConnectFrom(source, port);
    SendText(fd, request);
    const std::string answer = ReadAnswer(fd, Clock::now() + std::chrono::seconds(5));
    close(fd);
    return answer;
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
    // The address is the query's IP argument wherever it stands, its escapes decoded.
    EXPECT_EQ(FoundIn(RawExchange(service.Port(), Get("/?lang=zh&IP=8%2e8.8%2E8&IP=1.1.1.1"))), "8.8.8.8");
    // The caller sees its own address, which on loopback has no country.
    const IpLookup::OwnAddress own = IpLookup::ParseOwnAddress(IpLookup::PageTextOf(HttpGet(service.Url()).body));
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
            answered += AnsweredWithin(service.Port(), kPrompt) ? 1 : 0;
        }
        EXPECT_EQ(answered, 10) << "with idle connections from " << sources << " addresses";
        for (const int fd : flood) {
            close(fd);
        }
    }
    // Then from 30 addresses, each connection trickling its head a line at a time.
    std::vector<int> trickling;
    for (int i = 0; i < 1100; ++i) {
        const std::string source = "127.0.2." + std::to_string(1 + i % 30);
        if (const int fd = ConnectFrom(source.c_str(), service.Port()); fd >= 0) {
            trickling.push_back(fd);
            SendText(fd, "GET / HTTP/1.1\r\n");
        }
    }
    EXPECT_EQ(trickling.size(), 1100u);
    int answered = 0;
    for (int round = 0; round < 3; ++round) {
        for (const int fd : trickling) {
            SendText(fd, "X-Slow: 1\r\n");
        }
        for (int i = 0; i < 3; ++i) {
            answered += AnsweredWithin(service.Port(), kPrompt) ? 1 : 0;
        }
    }
    EXPECT_EQ(answered, 9) << "with trickling connections";
    for (const int fd : trickling) {
        close(fd);
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
    for (int i = 0; i < 150 && answer.empty(); ++i) {
        send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        answer = ReadAnswer(fd, Clock::now() + std::chrono::milliseconds(200));
    }
    const auto took = Clock::now() - start;
    close(fd);
    EXPECT_EQ(StatusOf(answer), 408);
    EXPECT_GE(took, std::chrono::milliseconds(900));
    // Trickling on, the head would never be cut; a loaded machine may cut it late.
    EXPECT_LT(took, std::chrono::seconds(15));
    // Cutting it off stops nothing else.
    EXPECT_TRUE(AnsweredWithin(service.Port(), kPrompt));
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
        answered += AnsweredWithin(port, kPrompt) ? 1 : 0;
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
    // A thread count is a whole number in range; "4x" or one past 2^32 once passed as some other count. The
    // missing database ends a run that wrongly takes the count before it would listen.
    for (const std::string threads : {"0", "-1", "4x", "", "65", "4294967297"}) {
        const std::string command = std::string(TOLVAR_LOOKUPD) + " --threads '" + threads +
                                    "' --listen 127.0.0.1:0 --database /nonexistent/GeoIP.dat 2>&1 >/dev/null";
        std::FILE* const child = popen(command.c_str(), "r");
        ASSERT_NE(child, nullptr);
        std::string complaint;
        char buffer[256];
        for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, child)) > 0;) {
            complaint.append(buffer, got);
        }
        const int status = pclose(child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << threads;
        EXPECT_NE(complaint.find("--threads wants a whole number from 1 to 64, not " + threads + "\n"),
                  std::string::npos)
            << complaint;
    }
}

TEST(LookupdTest, PipelinedAndKeptOpenRequestsAreAnsweredInOrderEachWhole) {
    LookupdProcess service;
    const int fd = ConnectFrom("127.0.0.1", service.Port());
    ASSERT_GE(fd, 0);
    const auto lookup = [](const std::string& ip) { return "GET /?IP=" + ip + " HTTP/1.1\r\nHost: x\r\n\r\n"; };
    // Three requests in one segment, one with bare line ends.
    ASSERT_TRUE(SendText(fd, lookup("8.8.8.8") + "GET /?IP=114.114.114.114 HTTP/1.1\nHost: x\n\n" + lookup("1.1.1.1")));
    std::vector<std::string> answers = ReadAnswers(fd, 3, Clock::now() + std::chrono::seconds(5));
    ASSERT_EQ(answers.size(), 3u);
    EXPECT_EQ(FoundIn(answers[0]), "8.8.8.8");
    EXPECT_EQ(FoundIn(answers[1]), "114.114.114.114");
    EXPECT_EQ(FoundIn(answers[2]), "1.1.1.1");
    EXPECT_NE(answers[0].find("\r\nConnection: keep-alive\r\n"), std::string::npos);

    // The same connection, kept open: a head that arrives in pieces, then far more pipelined requests than their
    // answers fit in the socket's buffers, sent before any answer is read.
    const std::string split = lookup("202.12.27.33");
    ASSERT_TRUE(SendText(fd, split.substr(0, 20)));
    // The point: the service reads the first piece on its own before the rest comes.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    ASSERT_TRUE(SendText(fd, split.substr(20)));
    answers = ReadAnswers(fd, 1, Clock::now() + std::chrono::seconds(5));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(FoundIn(answers[0]), "202.12.27.33");
    const std::vector<std::string> addresses{"8.8.8.8", "114.114.114.114", "202.12.27.33", "193.0.6.139"};
    std::string many;
    for (std::size_t i = 0; i < 400; ++i) {
        many += lookup(addresses[i % addresses.size()]);
    }
    ASSERT_TRUE(SendText(fd, many));
    // Nothing is read for a while, so the answers fill the buffers and the service must hold the rest back.
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    answers = ReadAnswers(fd, 400, Clock::now() + std::chrono::seconds(10));
    ASSERT_EQ(answers.size(), 400u);
    for (std::size_t i = 0; i < answers.size(); ++i) {
        ASSERT_EQ(FoundIn(answers[i]), addresses[i % addresses.size()]) << "answer " << i;
    }
    // A request that asks to close gets its answer, here only the head of it, then the end of the connection.
    ASSERT_TRUE(SendText(fd, "HEAD /?IP=8.8.8.8 HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n"));
    const std::string last = ReadAnswer(fd, Clock::now() + std::chrono::seconds(5));
    EXPECT_EQ(StatusOf(last), 200);
    EXPECT_NE(last.find("\r\nConnection: close\r\n"), std::string::npos);
    EXPECT_EQ(last.find("\r\n\r\n") + 4, last.size()) << "an answer to HEAD has no body";
    close(fd);

    // HTTP/1.0 keeps the connection only when asked to.
    EXPECT_NE(RawExchange(service.Port(), Get("/")).find("\r\nConnection: close\r\n"), std::string::npos);
    const int old = ConnectFrom("127.0.0.1", service.Port());
    ASSERT_TRUE(SendText(old, "GET /?IP=8.8.8.8 HTTP/1.0\r\nConnection: keep-alive\r\n\r\n"));
    ASSERT_EQ(ReadAnswers(old, 1, Clock::now() + std::chrono::seconds(5)).size(), 1u);
    ASSERT_TRUE(SendText(old, Get("/?IP=114.114.114.114")));
    answers = ReadAnswers(old, 1, Clock::now() + std::chrono::seconds(5));
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(FoundIn(answers[0]), "114.114.114.114");
    close(old);
}

TEST(LookupdTest, AKeptOpenConnectionIsClosedIdleAndCutTrickling) {
    LookupdProcess service({"--keep-alive", "1", "--request-deadline", "6"});
    const std::string request = "GET /?IP=8.8.8.8 HTTP/1.1\r\nHost: x\r\n\r\n";
    // Idle after an answer: closed after the short idle limit, long before the request deadline would be.
    const int idle = ConnectFrom("127.0.0.1", service.Port());
    ASSERT_TRUE(SendText(idle, request));
    ASSERT_EQ(ReadAnswers(idle, 1, Clock::now() + std::chrono::seconds(5)).size(), 1u);
    const Clock::time_point answered = Clock::now();
    bool closed = false;
    EXPECT_TRUE(ReadAnswers(idle, 1, answered + std::chrono::seconds(5), &closed).empty());
    EXPECT_TRUE(closed) << "an idle kept-open connection stays open";
    EXPECT_LT(Clock::now() - answered, std::chrono::seconds(5)) << "an idle connection outlived its idle limit";
    close(idle);

    // The next head on a kept-open connection trickling in a line at a time is cut at the request deadline,
    // however often it sends, and it does not keep the idle limit from being the shorter one.
    const int trickling = ConnectFrom("127.0.0.1", service.Port());
    ASSERT_TRUE(SendText(trickling, request));
    ASSERT_EQ(ReadAnswers(trickling, 1, Clock::now() + std::chrono::seconds(5)).size(), 1u);
    SendText(trickling, "GET / HTTP/1.1\r\n");
    std::vector<std::string> cut;
    for (int i = 0; i < 150 && cut.empty(); ++i) {
        SendText(trickling, "X-Slow: 1\r\n");
        cut = ReadAnswers(trickling, 1, Clock::now() + std::chrono::milliseconds(200));
    }
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(StatusOf(cut[0]), 408);
    close(trickling);
}

TEST(LookupdTest, ConnectionsKeptOpenCountAgainstTheirAddress) {
    LookupdProcess service({"--per-address-limit", "4"});
    std::vector<int> kept;
    for (int i = 0; i < 4; ++i) {
        kept.push_back(ConnectFrom("127.0.0.3", service.Port()));
        SendText(kept.back(), "GET /?IP=8.8.8.8 HTTP/1.1\r\nHost: x\r\n\r\n");
        ASSERT_EQ(ReadAnswers(kept.back(), 1, Clock::now() + std::chrono::seconds(5)).size(), 1u);
    }
    // A fifth from the same address is one too many, idle as the four are; others are served all the same.
    EXPECT_EQ(StatusOf(RawExchangeFrom("127.0.0.3", service.Port(), Get("/?IP=8.8.8.8"))), 503);
    EXPECT_TRUE(AnsweredWithin(service.Port(), kPrompt));
    close(kept.back());
    kept.pop_back();
    bool served = false;
    for (int i = 0; i < 50 && !served; ++i) {
        served = StatusOf(RawExchangeFrom("127.0.0.3", service.Port(), Get("/?IP=8.8.8.8"))) == 200;
    }
    EXPECT_TRUE(served) << "a closed connection frees its place";
    for (const int fd : kept) {
        close(fd);
    }
}

// Runs `body` in a child process with network, mount and user namespaces of its own, where loopback is up and the
// resolver configuration names a DNS server on 127.0.0.1 that takes every query and never answers. The result is
// the text `body` returns, empty when all went well; nullopt when the namespaces cannot be had here.
std::optional<std::string> WithSilentResolver(const std::function<std::string()>& body) {
    int result[2];
    if (pipe2(result, O_CLOEXEC) != 0) {
        return "no pipe";
    }
    const uid_t uid = getuid();
    const gid_t gid = getgid();
    const pid_t child = fork();
    if (child == 0) {
        close(result[0]);
        const auto write = [](const std::string& path, const std::string& text) {
            const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC);
            const bool written = fd >= 0 && ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
            if (fd >= 0) {
                close(fd);
            }
            return written;
        };
        if (unshare(CLONE_NEWUSER | CLONE_NEWNET | CLONE_NEWNS) != 0) {
            _exit(77);
        }
        write("/proc/self/setgroups", "deny");
        write("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1");
        write("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1");
        char config[] = "/tmp/lookupd-resolv-XXXXXX";
        const int configFd = mkstemp(config);
        const std::string servers = "nameserver 127.0.0.1\noptions timeout:5 attempts:2\n";
        const bool configured =
            configFd >= 0 && ::write(configFd, servers.data(), servers.size()) == static_cast<ssize_t>(servers.size());
        // Private mounts: the resolver configuration laid over the system's is seen in this child alone.
        const bool mounted = configured && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0 &&
                             mount(config, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
        unlink(config);
        const bool up = BringLoopbackUp();
        const int silent = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        sockaddr_in dns{};
        dns.sin_family = AF_INET;
        dns.sin_port = htons(53);
        inet_pton(AF_INET, "127.0.0.1", &dns.sin_addr);
        const bool listening = bind(silent, reinterpret_cast<const sockaddr*>(&dns), sizeof dns) == 0;
        if (!mounted || !up || !listening) {
            _exit(77);
        }
        std::string failures;
        try {
            failures = body();
        } catch (const std::exception& error) {
            failures = error.what();
        }
        ::write(result[1], failures.data(), failures.size());
        _exit(0);
    }
    close(result[1]);
    std::string failures;
    char buffer[512];
    for (ssize_t got; (got = read(result[0], buffer, sizeof buffer)) > 0;) {
        failures.append(buffer, static_cast<std::size_t>(got));
    }
    close(result[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77) {
        return std::nullopt;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return "the child ended with status " + std::to_string(status);
    }
    return failures;
}

TEST(LookupdTest, ANameTheResolverNeverAnswersHoldsNoOtherClient) {
    const std::optional<std::string> outcome = WithSilentResolver([] {
        std::string failures;
        LookupdProcess service;
        std::atomic<bool> done{false};
        std::atomic<int> namesAnswered{0};
        std::atomic<int> namesUnanswered{0};
        std::atomic<int> namesAsked{0};
        std::vector<std::thread> askers;
        for (int k = 0; k < 4; ++k) {
            askers.emplace_back([&, k] {
                for (int n = 0; !done; ++n) {
                    const Clock::time_point start = Clock::now();
                    const int fd = ConnectFrom("127.0.0.1", service.Port());
                    SendText(fd, Get("/?IP=h" + std::to_string(k) + "-" + std::to_string(n) + ".example"));
                    ++namesAsked;
                    const std::vector<std::string> answer = ReadAnswers(fd, 1, start + std::chrono::seconds(8));
                    close(fd);
                    // A name not resolved in time is answered as found nowhere.
                    const bool answered = answer.size() == 1 && StatusOf(answer[0]) == 200 &&
                                          BodyOf(answer[0]).find("</html>") != std::string::npos &&
                                          FoundIn(answer[0]).empty();
                    ++(answered ? namesAnswered : namesUnanswered);
                }
            });
        }
        // Every asker has a name out before the addresses are asked about.
        for (int wait = 0; wait < 3000 && namesAsked < 4; ++wait) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        int answered = 0;
        for (int i = 0; i < 20; ++i) {
            answered += AnsweredWithin(service.Port(), kPrompt, "1.2.3.4") ? 1 : 0;
            // Spread over several resolve deadlines, so the addresses meet names at every stage of their wait.
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        done = true;
        for (std::thread& asker : askers) {
            asker.join();
        }
        if (answered != 20) {
            failures += std::to_string(answered) + " of 20 addresses answered promptly; ";
        }
        if (namesAnswered < 4 || namesUnanswered != 0) {
            failures +=
                std::to_string(namesAnswered) + " names answered, " + std::to_string(namesUnanswered) + " not; ";
        }
        if (service.Stop() != 0) {
            failures += "the service did not stop cleanly";
        }
        return failures;
    });
    if (!outcome) {
        GTEST_SKIP() << "no user, network and mount namespaces to be had here";
    }
    EXPECT_EQ(*outcome, "");
}

} // namespace
