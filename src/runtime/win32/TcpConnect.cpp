#include "runtime/TcpConnect.h"

#include "runtime/win32/Winsock.h"

#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace Tcp {

namespace {

using Clock = std::chrono::steady_clock;

// Closes a socket on every path out of a function.
class Socket {
public:
    explicit Socket(SOCKET socket)
        : socket_(socket) {}
    ~Socket() {
        if (socket_ != INVALID_SOCKET) {
            ::closesocket(socket_);
        }
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET Get() const { return socket_; }

private:
    SOCKET socket_;
};

// Waits for the pending connect to finish; a refused one shows in the exception set.
bool WaitConnected(SOCKET socket, Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
        return false;
    }
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(socket, &writable);
    FD_SET(socket, &failed);
    timeval wait{static_cast<long>(left.count() / 1000), static_cast<long>(left.count() % 1000) * 1000};
    if (::select(0, nullptr, &writable, &failed, &wait) <= 0 || FD_ISSET(socket, &failed)) {
        return false;
    }
    int error = 0;
    int length = sizeof error;
    return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) == 0 && error == 0;
}

} // namespace

std::optional<std::uint32_t> ResolveIpv4(const std::string& host) {
    if (host.empty() || !Win32::StartWinsock()) {
        return std::nullopt;
    }
    // inet_addr takes the shorthand forms ("127.1") too; its failure value is also a valid address.
    const unsigned long dotted = ::inet_addr(host.c_str());
    if (dotted != INADDR_NONE || host == "255.255.255.255") {
        return static_cast<std::uint32_t>(dotted);
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return std::nullopt;
    }
    std::optional<std::uint32_t> address;
    for (const addrinfo* at = found; at != nullptr && !address; at = at->ai_next) {
        if (at->ai_family == AF_INET && at->ai_addr != nullptr) {
            sockaddr_in ipv4{};
            std::memcpy(&ipv4, at->ai_addr, sizeof ipv4);
            address = ipv4.sin_addr.s_addr;
        }
    }
    ::freeaddrinfo(found);
    return address;
}

bool ConnectAccepted(std::uint32_t address, std::uint16_t port, std::chrono::milliseconds bound) {
    const Clock::time_point deadline = Clock::now() + bound;
    if (!Win32::StartWinsock()) {
        return false;
    }
    const Socket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (socket.Get() == INVALID_SOCKET) {
        return false;
    }
    // Non-blocking, so that the bound is ours and not whatever the system's retries add up to.
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) != 0) {
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        return true;
    }
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
        return false;
    }
    return WaitConnected(socket.Get(), deadline);
}

void RaiseOpenFileLimit() {
    // Windows sets no per-process limit on sockets that could be raised.
}

} // namespace Tcp
