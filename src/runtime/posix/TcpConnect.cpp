#include "runtime/TcpConnect.h"

#include "runtime/FileDescriptor.h"

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

using Clock = std::chrono::steady_clock;

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

} // namespace

std::optional<std::uint32_t> ResolveIpv4(const std::string& host) {
    if (host.empty()) {
        return std::nullopt;
    }
    // inet_aton takes the same shorthand forms ("127.1") as the Windows parser of dotted addresses.
    in_addr dotted{};
    if (::inet_aton(host.c_str(), &dotted) != 0) {
        return dotted.s_addr;
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
    const FileDescriptor socket(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (socket.Get() < 0) {
        return false;
    }
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(port);
    peer.sin_addr.s_addr = address;
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0) {
        return true;
    }
    if (errno != EINPROGRESS && errno != EINTR) {
        return false;
    }
    return WaitConnected(socket.Get(), deadline);
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

} // namespace Tcp
