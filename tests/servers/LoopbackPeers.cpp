#include "LoopbackPeers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback4(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds a new stream socket to an ephemeral loopback port and returns it with the port.
int BindEphemeral(std::uint16_t& port, Loopback on = Loopback::Ipv4) {
    sockaddr_storage address{};
    socklen_t length = 0;
    if (on == Loopback::Ipv4) {
        *reinterpret_cast<sockaddr_in*>(&address) = Loopback4(0);
        length = sizeof(sockaddr_in);
    } else {
        auto* ipv6 = reinterpret_cast<sockaddr_in6*>(&address);
        ipv6->sin6_family = AF_INET6;
        ipv6->sin6_addr = in6addr_loopback;
        length = sizeof(sockaddr_in6);
    }
    const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "cannot bind a loopback socket";
        return fd;
    }
    // Both families keep the port at the same place.
    port = ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
    return fd;
}

} // namespace

Listener::Listener(int backlog, Loopback on) {
    fd_ = BindEphemeral(port_, on);
    if (::listen(fd_, backlog) != 0) {
        ADD_FAILURE() << "cannot listen";
    }
}

Listener::~Listener() {
    ::close(fd_);
}

ClosedPort::ClosedPort(Loopback on) {
    fd_ = BindEphemeral(port_, on);
}

ClosedPort::~ClosedPort() {
    ::close(fd_);
}

SilentPort::SilentPort()
    : Listener(0) {
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback4(port_);
    if (::connect(filler_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot fill the accept queue";
    }
}

SilentPort::~SilentPort() {
    ::close(filler_);
}
