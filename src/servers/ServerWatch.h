#pragma once

#include "servers/Probe.h"
#include "servers/ServerList.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

// Keeps the status column true while the program runs: every entry is probed again after each interval, on
// request, and when it is added or edited. One worker per entry and pass, and never a second one for an entry
// whose probe is still running, so a host that never answers holds one thread at most.

// How often every entry is probed again.
inline constexpr std::chrono::milliseconds kWatchInterval{60000};

// What one worker found, handed from its thread to the thread that owns the watch.
struct WatchReport {
    ServerList::Id id = 0;
    // The host and port that were probed, as the entry held them when the probe started.
    std::string host;
    std::string port;
    // False when no worker could be started: nothing was probed and nothing written.
    bool probed = false;
    // Whether the result reached the list: false when the entry was removed or edited meanwhile.
    bool written = false;
    ServerStatus status = ServerStatus::Unknown;
    // From the start of the connection attempt to its answer; the name lookup does not count.
    std::chrono::microseconds connectTime{0};
    std::chrono::system_clock::time_point at{};
};

// What the probes of an entry have shown since it got its present host and port.
struct WatchHistory {
    // Online or offline after the first result; unknown before it.
    ServerStatus last = ServerStatus::Unknown;
    std::chrono::system_clock::time_point lastProbe;
    std::chrono::microseconds connectTime{0};
    // When the present run of offline results began; meaningful while `last` is offline.
    std::chrono::system_clock::time_point unreachableSince;
    bool everOnline = false;
};

enum class WatchNotice {
    None,
    // It was online at the previous probe and is not any more.
    WentOffline,
    // It had been online before, went offline, and answers again.
    CameBack,
};

// A result the owner should show: the entry's new status and whether the user is to be told.
struct WatchChange {
    ServerList::Id id = 0;
    ServerStatus status = ServerStatus::Unknown;
    WatchNotice notice = WatchNotice::None;
};

class ServerWatch {
public:
    // Called on a worker thread (or, when no thread could start, on the caller's); it must hand the report
    // to the owner's thread, which passes it to Apply.
    using Deliver = std::function<void(WatchReport report)>;

    // The list must outlive the watch; the workers need neither, and write the list only while it lives.
    ServerWatch(ServerList& list, ProbeSettings settings, Deliver deliver);
    ~ServerWatch();
    ServerWatch(const ServerWatch&) = delete;
    ServerWatch& operator=(const ServerWatch&) = delete;

    // Starts a probe of every entry that has none running and returns their ids, in list order. The workers
    // are started from a thread of their own, so this costs the caller one copy of the list.
    std::vector<ServerList::Id> ProbeAll();
    // The same for the entries with these ids; ids that are gone are passed over.
    std::vector<ServerList::Id> Probe(const std::vector<ServerList::Id>& ids);

    // Takes a worker's report on the owner's thread: the entry is free for its next probe, its history moves
    // on, and the change to show comes back. nullopt when there is nothing to show: no probe ran, the entry
    // is gone, or it was edited meanwhile (it is then probed again at once, at its new address).
    std::optional<WatchChange> Apply(const WatchReport& report);

    bool InFlight(ServerList::Id id) const;
    // nullopt until the entry's first result at its present host and port.
    std::optional<WatchHistory> HistoryOf(ServerList::Id id) const;

private:
    struct Watched {
        bool inFlight = false;
        // What the history below is about.
        std::string host;
        std::string port;
        std::optional<WatchHistory> history;
    };
    struct Target {
        ServerList::Id id;
        std::string host;
        std::string port;
    };

    // Marks the targets whose entry has no probe out as probed, starts their workers, and gives their ids.
    std::vector<ServerList::Id> StartIdle(std::vector<Target> targets);
    void Launch(std::vector<Target> targets);

    ServerList& list_;
    ProbeSettings settings_;
    std::shared_ptr<const Deliver> deliver_;
    std::unordered_map<ServerList::Id, Watched> watched_;
};
