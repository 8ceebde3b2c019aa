#pragma once

#include "runtime/TcpConnect.h"

// The two parts of a TCP connect that each platform's sockets make in their own way.
namespace Tcp::Platform {

using Clock = std::chrono::steady_clock;

// Every address `host` (a name or an address without brackets) stands for, in the resolver's order.
std::vector<Address> LookUp(const std::string& host);

// Whether a connection to address:port is accepted before `deadline`.
bool ConnectOne(const Address& address, std::uint16_t port, Clock::time_point deadline);

} // namespace Tcp::Platform
