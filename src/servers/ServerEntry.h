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

// The five texts, which are what tells one entry from another (the status is not part of it), as one key; no
// field holds a zero byte, since the settings text ends at the first one.
[[nodiscard]] std::string TextsKey(const ServerEntry& entry);
[[nodiscard]] bool SameTexts(const ServerEntry& a, const ServerEntry& b);
