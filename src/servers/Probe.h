#pragma once

#include "servers/ServerEntry.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The reachability probe behind the server list's status column: one attempt at a TCP connection to an entry's
// host and port. The watch (ServerWatch.h) runs one worker thread per entry and pass to make it.

// A worker only resolves a name and waits on one socket, so a small stack keeps thousands of them cheap.
inline constexpr std::size_t kProbeStackSize = std::size_t{256} << 10;

struct ProbeSettings {
    // How long an unanswered connection is waited for.
    std::chrono::milliseconds bound = std::chrono::milliseconds{21000};
    std::size_t stackSize = kProbeStackSize;
    // Starts one worker; the runtime's detached thread unless a test puts its own in.
    std::function<bool(std::function<void()> body, std::size_t stackSize)> startThread;
};

// The port a port text names: full-width characters count as their ASCII forms, then leading blanks, a sign
// and digits as a C string-to-integer conversion reads them; 0 or less gives 1, and only the low 16 bits count.
std::uint16_t ProbePort(std::string_view port);

// Online when `host` accepts a TCP connection on the port `port` names within `bound`, else offline. An empty
// host fails at once, without any traffic. When a connection was attempted, `connectTime` (if given) is set to
// the time from the start of the attempt to its answer; the name lookup does not count.
ServerStatus ProbeEntry(const std::string& host, std::string_view port, std::chrono::milliseconds bound,
                        std::chrono::microseconds* connectTime = nullptr);
