#pragma once

#include <cstddef>
#include <string>
#include <vector>

// The machine's host name as the system reports it (at most 255 bytes); empty on failure.
std::string HostName();

// The machine's own IPv4 addresses in dotted decimal, in the system's order, at most `limit`; loopback
// addresses only when there is nothing else. Empty on failure.
std::vector<std::string> LocalIpv4Addresses(std::size_t limit = 10);
