#include "runtime/TcpConnect.h"

#include "runtime/TcpConnectPlatform.h"

#include <algorithm>
#include <string_view>

namespace Tcp {

std::vector<Address> Resolve(const std::string& host) {
    std::string_view name = host;
    // "[::1]" as an address is written in a connection file or typed after one.
    if (name.size() > 2 && name.front() == '[' && name.back() == ']') {
        name = name.substr(1, name.size() - 2);
    }
    if (name.empty()) {
        return {};
    }
    const std::vector<Address> all = Platform::LookUp(std::string(name));
    std::vector<Address> chosen;
    for (const Address::Family family : {Address::Family::Ipv4, Address::Family::Ipv6}) {
        const auto first =
            std::find_if(all.begin(), all.end(), [family](const Address& address) { return address.family == family; });
        if (first != all.end()) {
            chosen.push_back(*first);
        }
    }
    return chosen;
}

bool ConnectAccepted(const std::vector<Address>& addresses, std::uint16_t port, std::chrono::milliseconds bound) {
    const Platform::Clock::time_point deadline = Platform::Clock::now() + bound;
    for (const Address& address : addresses) {
        if (Platform::Clock::now() >= deadline) {
            break;
        }
        if (Platform::ConnectOne(address, port, deadline)) {
            return true;
        }
    }
    return false;
}

} // namespace Tcp
