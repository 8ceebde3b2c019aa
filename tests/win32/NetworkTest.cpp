#include "runtime/HostInfo.h"
#include "runtime/HttpFetch.h"
#include "runtime/TcpConnect.h"
#include "runtime/WinsockWin32.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace {

using namespace std::chrono_literals;

// A listening socket on 127.0.0.1 (or ::1) and a port the system chose.
class Listener {
public:
    explicit Listener(bool ipv6 = false) {
        Win32::StartWinsock();
        sockaddr_storage address{};
        int length = 0;
        if (ipv6) {
            auto* six = reinterpret_cast<sockaddr_in6*>(&address);
            six->sin6_family = AF_INET6;
            six->sin6_addr = in6addr_loopback;
            length = sizeof *six;
        } else {
            auto* four = reinterpret_cast<sockaddr_in*>(&address);
            four->sin_family = AF_INET;
            four->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *four;
        }
        socket_ = ::socket(address.ss_family, SOCK_STREAM, IPPROTO_TCP);
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(socket_, 8) != 0 ||
            ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "no loopback listener";
        }
        // Both families keep the port at the same place.
        port_ = ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    }
    ~Listener() { Close(); }
    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    std::uint16_t Port() const { return port_; }
    SOCKET Accept() const { return ::accept(socket_, nullptr, nullptr); }
    void Close() {
        if (socket_ != INVALID_SOCKET) {
            ::closesocket(socket_);
            socket_ = INVALID_SOCKET;
        }
    }

private:
    SOCKET socket_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
};

const Tcp::Address kLoopback4{Tcp::Address::Family::Ipv4, {127, 0, 0, 1}};
const Tcp::Address kLoopback6{Tcp::Address::Family::Ipv6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};
using Addresses = std::vector<Tcp::Address>;

TEST(Win32Probe, ListenerAcceptsAndAClosedPortRefuses) {
    Listener open;
    EXPECT_TRUE(Tcp::ConnectAccepted({kLoopback4}, open.Port(), Tcp::kConnectBound));
    Listener closed;
    const std::uint16_t port = closed.Port();
    closed.Close();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(Tcp::ConnectAccepted({kLoopback4}, port, Tcp::kConnectBound));
    EXPECT_LT(std::chrono::steady_clock::now() - start, Tcp::kConnectBound);

    EXPECT_EQ(Tcp::Resolve("127.0.0.1"), Addresses{kLoopback4});
    EXPECT_EQ(Tcp::Resolve("127.1"), Addresses{kLoopback4});
    const Addresses local = Tcp::Resolve("localhost");
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(local.front(), kLoopback4);
    EXPECT_TRUE(Tcp::Resolve("").empty());
    EXPECT_FALSE(HostName().empty());
}

TEST(Win32Probe, Ipv6AddressesAreReadAndConnectedTo) {
    EXPECT_EQ(Tcp::Resolve("::1"), Addresses{kLoopback6});
    EXPECT_EQ(Tcp::Resolve("[::1]"), Addresses{kLoopback6});
    Listener open(true);
    EXPECT_TRUE(Tcp::ConnectAccepted({kLoopback6}, open.Port(), Tcp::kConnectBound));
    // Refused over IPv4, then accepted over IPv6 within the same bound.
    EXPECT_TRUE(Tcp::ConnectAccepted({kLoopback4, kLoopback6}, open.Port(), Tcp::kConnectBound));
    open.Close();
    EXPECT_FALSE(Tcp::ConnectAccepted({kLoopback6}, open.Port(), Tcp::kConnectBound));
}

// Answers each connection with `answer(request)`, keeping every request it read.
class HttpServer {
public:
    using Answer = std::function<std::string(const std::string& request)>;
    HttpServer(int connections, Answer answer)
        : thread_([this, connections, answer] {
            for (int i = 0; i < connections; ++i) {
                const SOCKET client = listener_.Accept();
                if (client == INVALID_SOCKET) {
                    return;
                }
                std::string request;
                char buffer[4096];
                while (request.find("\r\n\r\n") == std::string::npos) {
                    const int got = ::recv(client, buffer, sizeof buffer, 0);
                    if (got <= 0) {
                        break;
                    }
                    request.append(buffer, static_cast<std::size_t>(got));
                }
                requests_.push_back(request);
                const std::string reply = answer(request);
                if (!reply.empty()) {
                    ::send(client, reply.data(), static_cast<int>(reply.size()), 0);
                } else {
                    // An answer that never comes, until the server goes (or after 30 s).
                    for (int waited = 0; waited < 600 && !stopping_; ++waited) {
                        ::Sleep(50);
                    }
                }
                ::shutdown(client, SD_SEND);
                ::closesocket(client);
            }
        }) {}
    ~HttpServer() {
        stopping_ = true;
        listener_.Close();
        thread_.join();
    }

    std::string Base() const { return "http://127.0.0.1:" + std::to_string(listener_.Port()); }
    // Read only after the fetch returned.
    const std::vector<std::string>& Requests() const { return requests_; }

private:
    Listener listener_;
    std::vector<std::string> requests_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

TEST(Win32HttpFetch, OneGetWithTheOldRequestAndTheAddressCutAtTheHash) {
    HttpServer server(2, [](const std::string& request) -> std::string {
        if (request.starts_with("GET /moved")) {
            return "HTTP/1.0 404 Not Found\r\nContent-Type: text/html\r\n\r\nbody of an error";
        }
        return "HTTP/1.0 302 Found\r\nLocation: /moved\r\nContent-Length: 0\r\n\r\n";
    });
    const Bytes body = HttpGet(server.Base() + "/?IP=1.2.3.4 -t#part").body;
    EXPECT_EQ(TextFromBytes(body), "body of an error"); // the redirect is followed, the status not looked at
    ASSERT_EQ(server.Requests().size(), 2u);
    const std::string& first = server.Requests()[0];
    EXPECT_TRUE(first.starts_with("GET /?IP=1.2.3.4%20-t HTTP/1.0\r\n")) << first;
    EXPECT_NE(first.find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"), std::string::npos)
        << first;
    EXPECT_NE(first.find("\r\nAccept: */*\r\n"), std::string::npos) << first;
    EXPECT_EQ(first.find("part"), std::string::npos);
    EXPECT_TRUE(server.Requests()[1].starts_with("GET /moved HTTP/1.0\r\n")) << server.Requests()[1];
}

TEST(Win32HttpFetch, BoundedInTimeAndSize) {
    {
        HttpServer silent(1, [](const std::string&) { return std::string(); });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_TRUE(HttpGet(silent.Base() + "/", HttpLimits{1000, 1000, 1024}).body.empty());
        // The server stays silent for 30 s; only the bound ends the fetch, however slow Wine is.
        EXPECT_LT(std::chrono::steady_clock::now() - start, 15s);
    }
    HttpServer large(1, [](const std::string&) { return "HTTP/1.0 200 OK\r\n\r\n" + std::string(100000, 'x'); });
    EXPECT_EQ(HttpGet(large.Base() + "/", HttpLimits{3000, 10000, 1000}).body.size(), 1000u);
}

} // namespace
