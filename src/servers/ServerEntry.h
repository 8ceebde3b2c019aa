#pragma once

#include <string>

// Last result of the reachability probe for an entry.
enum class ServerStatus : int { Online = 1, Offline = 2, Unknown = 3 };

// One remote machine of the server list. Every text is GBK, exactly as typed; `port` stays text.
struct ServerEntry {
    std::string host;
    std::string port;
    std::string account;
    std::string password;
    std::string note;
    ServerStatus status = ServerStatus::Unknown;

    bool operator==(const ServerEntry&) const = default;
};
