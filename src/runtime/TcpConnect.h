#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

// Plain TCP reachability: does anything accept a connection at a host's address and port?
namespace Tcp {

// How long Windows keeps trying an unanswered connection; the probe gives up after as long.
inline constexpr std::chrono::milliseconds kConnectBound{21000};

// One address of a host, in network byte order.
struct Address {
    enum class Family { Ipv4, Ipv6 };
    Family family = Family::Ipv4;
    // An IPv4 address fills the first four bytes.
    std::array<std::uint8_t, 16> bytes{};
    // The interface of an IPv6 link-local address ("fe80::1%2"); 0 for every other address.
    std::uint32_t scope = 0;

    bool operator==(const Address&) const = default;
};

// The addresses a connection to `host` tries, in order. A dotted IPv4 address (shorthand forms such as "127.1"
// too) and an IPv6 address, bare or in brackets, stand for themselves; a name gives its first IPv4 address
// and then its first IPv6 address, so a name with both is tried over IPv4 first and a name with only IPv6
// addresses is still reached. Empty for an empty host or a failed lookup.
std::vector<Address> Resolve(const std::string& host);

// Whether a TCP connection to `port` at one of `addresses`, tried in order, is accepted within `bound` all
// told; an address is given up for the next one when it refuses. The connection is closed at once and nothing
// is sent on it.
bool ConnectAccepted(const std::vector<Address>& addresses, std::uint16_t port, std::chrono::milliseconds bound);

// Lets the process hold as many sockets as the hard limit allows, since every probe worker keeps one open.
void RaiseOpenFileLimit();

} // namespace Tcp
