#include "LoopbackPeers.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// Binds a new stream socket to an ephemeral loopback port and returns it with the port.
int BindEphemeral(std::uint16_t& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ADD_FAILURE() << "cannot bind a loopback socket";
        return fd;
    }
    port = ntohs(address.sin_port);
    return fd;
}

} // namespace

Listener::Listener(int backlog) {
    fd_ = BindEphemeral(port_);
    if (::listen(fd_, backlog) != 0) {
        ADD_FAILURE() << "cannot listen";
    }
}

Listener::~Listener() {
    ::close(fd_);
}

ClosedPort::ClosedPort() {
    fd_ = BindEphemeral(port_);
}

ClosedPort::~ClosedPort() {
    ::close(fd_);
}

SilentPort::SilentPort()
    : Listener(0) {
    filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in address = Loopback(port_);
    if (::connect(filler_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ADD_FAILURE() << "cannot fill the accept queue";
    }
}

SilentPort::~SilentPort() {
    ::close(filler_);
}
