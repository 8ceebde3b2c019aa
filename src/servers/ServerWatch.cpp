#include "servers/ServerWatch.h"

#include "runtime/DetachedThread.h"
#include "runtime/TcpConnect.h"

#include <algorithm>
#include <thread>

namespace {

using SteadyClock = std::chrono::steady_clock;

// Workers are started a few at a time. A thousand threads started at once crowd the window's own thread off the
// processors and hold hundreds of stacks; sixteen to a millisecond, a probe that is answered or refused at once
// ends before the next few start, and only hosts slow to answer keep a thread. A pass over a thousand entries
// takes some 60 ms longer to start, which is nothing beside its interval.
constexpr std::size_t kStartBurst = 16;
constexpr std::chrono::milliseconds kStartPause{1};

// The probe of one entry, timed: the same attempt as the first pass makes.
WatchReport ProbeTimed(ServerList::Id id, std::string host, std::string port, std::chrono::milliseconds bound,
                       const ServerList::StatusWriter& writer) {
    WatchReport report{.id = id, .host = std::move(host), .port = std::move(port), .probed = true};
    bool accepted = false;
    if (const std::vector<Tcp::Address> addresses = Tcp::Resolve(report.host); !addresses.empty()) {
        const SteadyClock::time_point start = SteadyClock::now();
        accepted = Tcp::ConnectAccepted(addresses, ProbePort(report.port), bound);
        report.connectTime = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start);
    }
    report.status = accepted ? ServerStatus::Online : ServerStatus::Offline;
    report.at = std::chrono::system_clock::now();
    report.written = writer.SetIfAt(report.id, report.host, report.port, report.status);
    return report;
}

} // namespace

ServerWatch::ServerWatch(ServerList& list, ProbeSettings settings, Deliver deliver)
    : list_(list)
    , settings_(std::move(settings))
    , deliver_(std::make_shared<const Deliver>(std::move(deliver))) {}

ServerWatch::~ServerWatch() = default;

std::vector<ServerList::Id> ServerWatch::ProbeAll() {
    const std::vector<ServerList::Row> rows = list_.Rows();
    // Entries deleted since the last pass leave nothing behind, unless their probe is still out. The list keeps
    // its rows in the order their ids were handed out.
    std::vector<ServerList::Id> live;
    live.reserve(rows.size());
    for (const ServerList::Row& row : rows) {
        live.push_back(row.id);
    }
    std::erase_if(watched_, [&live](const auto& item) {
        return !item.second.inFlight && !std::binary_search(live.begin(), live.end(), item.first);
    });
    std::vector<Target> targets;
    std::vector<ServerList::Id> started;
    for (const ServerList::Row& row : rows) {
        Watched& watched = watched_[row.id];
        if (watched.inFlight) {
            continue;
        }
        watched.inFlight = true;
        targets.push_back({row.id, row.entry.host, row.entry.port});
        started.push_back(row.id);
    }
    Launch(std::move(targets));
    return started;
}

std::vector<ServerList::Id> ServerWatch::Probe(const std::vector<ServerList::Id>& ids) {
    std::vector<Target> targets;
    std::vector<ServerList::Id> started;
    for (const ServerList::Id id : ids) {
        const std::optional<ServerEntry> entry = list_.EntryById(id);
        if (!entry) {
            continue;
        }
        Watched& watched = watched_[id];
        if (watched.inFlight) {
            continue;
        }
        watched.inFlight = true;
        targets.push_back({id, entry->host, entry->port});
        started.push_back(id);
    }
    Launch(std::move(targets));
    return started;
}

void ServerWatch::Launch(std::vector<Target> targets) {
    if (targets.empty()) {
        return;
    }
    Tcp::RaiseOpenFileLimit();
    auto starter = [targets = std::move(targets), writer = list_.Writer(), deliver = deliver_, settings = settings_] {
        std::size_t count = 0;
        for (const Target& target : targets) {
            if (++count % kStartBurst == 0) {
                std::this_thread::sleep_for(kStartPause);
            }
            auto body = [writer, deliver, target, bound = settings.bound] {
                (*deliver)(ProbeTimed(target.id, target.host, target.port, bound, writer));
            };
            const bool started = settings.startThread ? settings.startThread(std::move(body), settings.stackSize)
                                                      : StartDetachedThread(std::move(body), settings.stackSize);
            if (!started) {
                // The entry must not stay marked as probed for ever.
                (*deliver)(WatchReport{.id = target.id, .host = target.host, .port = target.port});
            }
        }
    };
    auto shared = std::make_shared<decltype(starter)>(std::move(starter));
    if (!StartDetachedThread([shared] { (*shared)(); }, settings_.stackSize)) {
        (*shared)();
    }
}

std::optional<WatchChange> ServerWatch::Apply(const WatchReport& report) {
    const auto found = watched_.find(report.id);
    if (found == watched_.end()) {
        return std::nullopt; // not one of ours, or forgotten with its entry
    }
    Watched& watched = found->second;
    watched.inFlight = false;
    if (!report.probed) {
        return std::nullopt;
    }
    if (!report.written) {
        // Edited while its probe ran: what was found says nothing about the new address, so ask again.
        if (list_.EntryById(report.id)) {
            Probe({report.id});
        } else {
            watched_.erase(found);
        }
        return std::nullopt;
    }
    if (!watched.history || watched.host != report.host || watched.port != report.port) {
        // A new address is a new machine: what the old one did neither raises nor silences a notice.
        watched.host = report.host;
        watched.port = report.port;
        watched.history = WatchHistory{};
    }
    WatchHistory& history = *watched.history;
    const bool online = report.status == ServerStatus::Online;
    WatchChange change{report.id, report.status, WatchNotice::None};
    if (!online && history.last == ServerStatus::Online) {
        change.notice = WatchNotice::WentOffline;
    } else if (online && history.last == ServerStatus::Offline && history.everOnline) {
        change.notice = WatchNotice::CameBack;
    }
    if (!online && history.last != ServerStatus::Offline) {
        history.unreachableSince = report.at;
    }
    history.last = report.status;
    history.lastProbe = report.at;
    history.connectTime = online ? report.connectTime : std::chrono::microseconds{0};
    history.everOnline = history.everOnline || online;
    return change;
}

bool ServerWatch::InFlight(ServerList::Id id) const {
    const auto found = watched_.find(id);
    return found != watched_.end() && found->second.inFlight;
}

std::optional<WatchHistory> ServerWatch::HistoryOf(ServerList::Id id) const {
    const auto found = watched_.find(id);
    if (found == watched_.end() || !found->second.history) {
        return std::nullopt;
    }
    // After an edit the history is about the old address until the new one has answered.
    const std::optional<ServerEntry> entry = list_.EntryById(id);
    if (!entry || entry->host != found->second.host || entry->port != found->second.port) {
        return std::nullopt;
    }
    return found->second.history;
}
