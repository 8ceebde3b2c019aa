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
    // Appends every entry under one lock, as loading a whole list does.
    void AppendAll(std::vector<ServerEntry> entries);
    std::size_t Count() const;
    // A copy of every entry in list order.
    std::vector<ServerEntry> Entries() const;

private:
    mutable std::mutex mutex_;
    // Entry i has identity ids_[i].
    std::vector<ServerEntry> entries_;
    std::vector<Id> ids_;
    Id nextId_ = 1;
};
