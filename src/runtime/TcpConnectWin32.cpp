#include "runtime/TcpConnect.h"

#include "runtime/TcpConnectPlatform.h"
#include "runtime/WinsockWin32.h"

#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>

namespace Tcp {

namespace {

using Platform::Clock;

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

// The address a resolver answer holds, when it is one of the two families.
bool AddressOf(const sockaddr* socketAddress, Address& address) {
    if (socketAddress == nullptr) {
        return false;
    }
    if (socketAddress->sa_family == AF_INET) {
        sockaddr_in ipv4{};
        std::memcpy(&ipv4, socketAddress, sizeof ipv4);
        address = {Address::Family::Ipv4, {}, 0};
        std::memcpy(address.bytes.data(), &ipv4.sin_addr, 4);
        return true;
    }
    if (socketAddress->sa_family == AF_INET6) {
        sockaddr_in6 ipv6{};
        std::memcpy(&ipv6, socketAddress, sizeof ipv6);
        address = {Address::Family::Ipv6, {}, static_cast<std::uint32_t>(ipv6.sin6_scope_id)};
        std::memcpy(address.bytes.data(), &ipv6.sin6_addr, 16);
        return true;
    }
    return false;
}

} // namespace

namespace Platform {

std::vector<Address> LookUp(const std::string& host) {
    if (!Win32::StartWinsock()) {
        return {};
    }
    // inet_addr takes the shorthand forms ("127.1") too; its failure value is also a valid address.
    const unsigned long dotted = ::inet_addr(host.c_str());
    if (dotted != INADDR_NONE || host == "255.255.255.255") {
        Address address;
        std::memcpy(address.bytes.data(), &dotted, 4);
        return {address};
    }
    // An IPv6 address is read as it stands here, without asking a name server.
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return {};
    }
    std::vector<Address> addresses;
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        if (Address address; AddressOf(at->ai_addr, address)) {
            addresses.push_back(address);
        }
    }
    ::freeaddrinfo(found);
    return addresses;
}

bool ConnectOne(const Address& address, std::uint16_t port, Clock::time_point deadline) {
    if (!Win32::StartWinsock()) {
        return false;
    }
    sockaddr_storage peer{};
    int length = 0;
    if (address.family == Address::Family::Ipv4) {
        auto* ipv4 = reinterpret_cast<sockaddr_in*>(&peer);
        ipv4->sin_family = AF_INET;
        ipv4->sin_port = htons(port);
        std::memcpy(&ipv4->sin_addr, address.bytes.data(), 4);
        length = sizeof *ipv4;
    } else {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&peer);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_port = htons(port);
        std::memcpy(&ipv6->sin6_addr, address.bytes.data(), 16);
        ipv6->sin6_scope_id = address.scope;
        length = sizeof *ipv6;
    }
    const Socket socket(::socket(peer.ss_family, SOCK_STREAM, IPPROTO_TCP));
    if (socket.Get() == INVALID_SOCKET) {
        return false;
    }
    // Non-blocking, so that the bound is ours and not whatever the system's retries add up to.
    u_long nonBlocking = 1;
    if (::ioctlsocket(socket.Get(), FIONBIO, &nonBlocking) != 0) {
        return false;
    }
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&peer), length) == 0) {
        return true;
    }
    if (::WSAGetLastError() != WSAEWOULDBLOCK) {
        return false;
    }
    return WaitConnected(socket.Get(), deadline);
}

} // namespace Platform

void RaiseOpenFileLimit() {
    // Windows sets no per-process limit on sockets that could be raised.
}

} // namespace Tcp
