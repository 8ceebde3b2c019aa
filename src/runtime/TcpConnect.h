#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

// Plain TCP reachability: does anything accept a connection at an IPv4 address and port?
namespace Tcp {

// How long Windows keeps trying an unanswered connection; the probe gives up after as long.
inline constexpr std::chrono::milliseconds kConnectBound{21000};

// The IPv4 address (network byte order) that `host` names: dotted addresses directly, other names through the
// resolver, first IPv4 address only. nullopt for an empty host or a failed lookup.
std::optional<std::uint32_t> ResolveIpv4(const std::string& host);

// Whether a TCP connection to address:port is accepted within `bound`; the connection is closed at once and
// nothing is sent on it.
bool ConnectAccepted(std::uint32_t address, std::uint16_t port, std::chrono::milliseconds bound);

// Lets the process hold as many sockets as the hard limit allows, since every probe worker keeps one open.
void RaiseOpenFileLimit();

} // namespace Tcp
