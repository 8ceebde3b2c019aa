#include "runtime/HostInfo.h"

#include "runtime/WinsockWin32.h"

#include <cstring>
#include <winsock2.h>
#include <ws2tcpip.h>

std::string HostName() {
    char name[256] = {};
    if (!Win32::StartWinsock() || ::gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}

std::vector<std::string> LocalIpv4Addresses(std::size_t limit) {
    // Windows answers its own host name from its interfaces, in its own order.
    std::vector<std::string> addresses;
    std::vector<std::string> loopback;
    const std::string host = HostName();
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (host.empty() || ::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0) {
        return addresses;
    }
    for (const addrinfo* at = found; at != nullptr; at = at->ai_next) {
        if (at->ai_family != AF_INET || at->ai_addr == nullptr) {
            continue;
        }
        sockaddr_in ipv4{};
        std::memcpy(&ipv4, at->ai_addr, sizeof ipv4);
        char text[INET_ADDRSTRLEN] = {};
        if (::inet_ntop(AF_INET, &ipv4.sin_addr, text, sizeof text) == nullptr) {
            continue;
        }
        const bool isLoopback = (ntohl(ipv4.sin_addr.s_addr) >> 24) == 127;
        (isLoopback ? loopback : addresses).emplace_back(text);
    }
    ::freeaddrinfo(found);
    if (addresses.empty()) {
        addresses = std::move(loopback);
    }
    if (addresses.size() > limit) {
        addresses.resize(limit);
    }
    return addresses;
}
