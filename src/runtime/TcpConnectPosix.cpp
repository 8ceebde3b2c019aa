#include "runtime/TcpConnect.h"

#include "runtime/FileDescriptorPosix.h"
#include "runtime/TcpConnectPlatform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace Tcp {

namespace {

using Platform::Clock;

// Waits for the pending connect to finish, counting the bound across interrupted waits.
bool WaitConnected(int fd, Clock::time_point deadline) {
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd waiting{fd, POLLOUT, 0};
        const int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        int error = 0;
        socklen_t length = sizeof error;
        return ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
    }
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
        address = {Address::Family::Ipv6, {}, ipv6.sin6_scope_id};
        std::memcpy(address.bytes.data(), &ipv6.sin6_addr, 16);
        return true;
    }
    return false;
}

} // namespace

namespace Platform {

std::vector<Address> LookUp(const std::string& host) {
    // inet_aton takes the same shorthand forms ("127.1") as the Windows parser of dotted addresses.
    in_addr dotted{};
    if (::inet_aton(host.c_str(), &dotted) != 0) {
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
    sockaddr_storage peer{};
    socklen_t length = 0;
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
    const FileDescriptor socket(::socket(peer.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0) {
        return false;
    }
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&peer), length) == 0) {
        return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return false;
    }
    return WaitConnected(socket.Get(), deadline);
}

} // namespace Platform

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace Tcp
