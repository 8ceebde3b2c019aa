#pragma once

#include "servers/ServerList.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

// The reachability probe behind the server list's status column: one worker thread per entry tries a TCP
// connection to the entry's host and port and records "online" or "offline".

// A worker only resolves a name and waits on one socket, so a small stack keeps thousands of them cheap.
inline constexpr std::size_t kProbeStackSize = std::size_t{256} << 10;

struct ProbeSettings {
    // How long an unanswered connection is waited for.
    std::chrono::milliseconds bound = std::chrono::milliseconds{21000};
    std::size_t stackSize = kProbeStackSize;
    // Starts one worker; the runtime's detached thread unless a test puts its own in.
    std::function<bool(std::function<void()> body, std::size_t stackSize)> startThread;
};

// Told on a worker thread once a result has been written to the list; never told for an entry that is gone.
using ProbeResultHandler = std::function<void(ServerList::Id id, ServerStatus status)>;

// The port a port text names: full-width characters count as their ASCII forms, then leading blanks, a sign
// and digits as a C string-to-integer conversion reads them; 0 or less gives 1, and only the low 16 bits count.
std::uint16_t ProbePort(std::string_view port);

// Online when `host` accepts a TCP connection on the port `port` names within `bound`, else offline. An empty
// host fails at once, without any traffic.
ServerStatus ProbeEntry(const std::string& host, std::string_view port, std::chrono::milliseconds bound);

// Starts one worker for every entry of `list` and returns at once: the entries are read here, and the workers
// are started from a thread of their own, so the caller never waits for a thousand thread starts. Each worker
// writes its entry's status by identity and then tells `onResult`; an entry whose worker could not start keeps
// its status.
void StartProbePass(const ServerList& list, const ProbeSettings& settings, ProbeResultHandler onResult);
