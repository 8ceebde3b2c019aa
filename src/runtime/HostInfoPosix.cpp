#include "runtime/HostInfo.h"

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <unistd.h>

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return "";
    }
    return name;
}

std::vector<std::string> LocalIpv4Addresses(std::size_t limit) {
    // Windows answers its own host name from its interfaces; here the resolver would read /etc/hosts (often
    // 127.0.1.1) or ask a name server, so the interfaces are asked directly.
    std::vector<std::string> addresses;
    std::vector<std::string> loopback;
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET || (entry->ifa_flags & IFF_UP) == 0) {
            continue;
        }
        in_addr address{};
        std::memcpy(&address, &reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr, sizeof address);
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &address, text, sizeof text) == nullptr) {
            continue;
        }
        ((entry->ifa_flags & IFF_LOOPBACK) != 0 ? loopback : addresses).emplace_back(text);
    }
    freeifaddrs(list);
    if (addresses.empty()) {
        addresses = std::move(loopback);
    }
    if (addresses.size() > limit) {
        addresses.resize(limit);
    }
    return addresses;
}
