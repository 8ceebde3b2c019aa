#pragma once

#include "servers/ServerEntry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

// The program-wide ordered list of server entries, numbered from 1. Probe workers write results from other
// threads, so every access is guarded, and each entry keeps an identity that survives edits and deletions of
// others: a result reaches the entry it was meant for or nothing.
class ServerList {
public:
    using Id = std::uint64_t;

    struct Row {
        Id id;
        ServerEntry entry;
    };

    // Writes probe results from worker threads. It stays safe to use after the list is gone, and then writes
    // nothing, so a worker still waiting on a dead host at exit never touches freed memory.
    class StatusWriter {
    public:
        // False when no entry has that id any more.
        bool Set(Id id, ServerStatus status) const;
        // Writes only while the entry still has the host and port that were probed: a result for what it held
        // before an edit says nothing about what it holds now. False when nothing was written.
        bool SetIfAt(Id id, std::string_view host, std::string_view port, ServerStatus status) const;

    private:
        friend class ServerList;
        struct Shared;
        explicit StatusWriter(std::weak_ptr<Shared> shared)
            : shared_(std::move(shared)) {}
        std::weak_ptr<Shared> shared_;
    };

    ServerList();
    ~ServerList();
    ServerList(const ServerList&) = delete;
    ServerList& operator=(const ServerList&) = delete;

    Id Append(ServerEntry entry);
    // Appends every entry under one lock, as loading a whole list does.
    void AppendAll(std::vector<ServerEntry> entries);
    std::size_t Count() const;
    // Entry `number` (from 1), or nullopt when there is none.
    std::optional<ServerEntry> EntryAt(std::size_t number) const;
    // The entry with identity `id`, or nullopt when it is gone.
    std::optional<ServerEntry> EntryById(Id id) const;
    // Replaces the five texts of entry `number` and keeps its status; false when there is no such entry.
    bool Replace(std::size_t number, const ServerEntry& texts);
    // Removes entry `number`; the later ones move up by one. False when there is no such entry.
    bool Remove(std::size_t number);
    bool SetStatus(Id id, ServerStatus status);
    // Makes the list hold `entries`, in their order: an entry whose texts the list already holds keeps its
    // identity and status (copies in turn), the others are new. The identities of the new entries, in order.
    std::vector<Id> TakeOver(const std::vector<ServerEntry>& entries);
    // The number (from 1) of the entry with identity `id`, or nullopt when it is gone.
    std::optional<std::size_t> NumberOf(Id id) const;
    // A copy of every entry in list order.
    std::vector<ServerEntry> Entries() const;
    // The same with each entry's identity.
    std::vector<Row> Rows() const;
    // Only the identities, in list order.
    std::vector<Id> Ids() const;
    StatusWriter Writer() const;

private:
    std::shared_ptr<StatusWriter::Shared> shared_;
};
