#pragma once

#include "servers/ServerEntry.h"

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

// The program-wide ordered list of server entries. Probe workers read and write it from other threads,
// so every access is guarded, and each entry keeps an identity that survives edits and deletions of others.
class ServerList {
public:
    using Id = std::uint64_t;

    Id Append(ServerEntry entry);
    std::size_t Count() const;
    // A copy of every entry in list order.
    std::vector<ServerEntry> Entries() const;

private:
    struct Item {
        Id id;
        ServerEntry entry;
    };

    mutable std::mutex mutex_;
    std::vector<Item> items_;
    Id nextId_ = 1;
};
