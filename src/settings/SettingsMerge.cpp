#include "settings/SettingsMerge.h"

#include "runtime/Gbk.h"
#include "settings/SettingsFile.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace {

// What the three sides hold of one line, and where the merge has put it.
struct LineInfo {
    long base = 0;
    long mine = 0;
    long theirs = 0;
    // Copies the merge may still place.
    long quota = 0;
    // Copies of `mine` walked so far, to pair each with the placed copy of the same rank.
    long mineSeen = 0;
    // Where the placed copies stand; almost every line has one.
    std::size_t firstPlace = 0;
    std::vector<std::size_t> laterPlaces;
    long placed = 0;
};

using Lines = std::unordered_map<std::string_view, LineInfo>;

std::vector<std::string> KeysOf(const std::vector<ServerEntry>& servers) {
    std::vector<std::string> keys;
    keys.reserve(servers.size());
    for (const ServerEntry& entry : servers) {
        keys.push_back(TextsKey(entry));
    }
    return keys;
}

// How many copies of a line the merge keeps: the same change on both sides counts once, different changes add up.
long MergedCount(long base, long mine, long theirs) {
    const long toMine = mine - base;
    const long toTheirs = theirs - base;
    if ((toMine >= 0) == (toTheirs >= 0) || toMine == 0 || toTheirs == 0) {
        const long change = std::abs(toMine) >= std::abs(toTheirs) ? toMine : toTheirs;
        return std::max(0L, base + change);
    }
    return std::max(0L, base + toMine + toTheirs);
}

// The entries of `side` that stand where an entry of `base` no longer does, walking both in step: the base
// entry's index and the line that replaced it. A side's own additions at the end are no edits.
std::unordered_map<std::size_t, std::size_t> EditsOf(const std::vector<std::string>& base,
                                                     const std::vector<std::string>& side, const Lines& lines,
                                                     long LineInfo::*sideCount) {
    std::unordered_map<std::size_t, std::size_t> edits;
    std::size_t b = 0;
    std::size_t s = 0;
    while (b < base.size() && s < side.size()) {
        if (base[b] == side[s]) {
            ++b;
            ++s;
            continue;
        }
        const LineInfo& atBase = lines.at(base[b]);
        const LineInfo& atSide = lines.at(side[s]);
        const bool baseGone = atBase.*sideCount < atBase.base;
        const bool sideNew = atSide.base < atSide.*sideCount;
        if (baseGone && sideNew) {
            edits.emplace(b++, s++);
        } else if (baseGone) {
            ++b;
        } else if (sideNew) {
            ++s;
        } else {
            ++b;
            ++s;
        }
    }
    return edits;
}

template <typename T> const T& Pick(const T& base, const T& mine, const T& theirs) {
    return mine != base || theirs == base ? mine : theirs;
}

} // namespace

bool SettingsContent::SameAs(const SettingsContent& other) const {
    return SettingsText(servers, options, startupPassword) ==
           SettingsText(other.servers, other.options, other.startupPassword);
}

SettingsContent ContentOf(const Bytes& settingsBytes) {
    ParsedSettings parsed = ParseSettings(settingsBytes);
    return {std::move(parsed.servers), parsed.options, StartupPasswordOf(settingsBytes)};
}

bool LooksLikeSettings(const Bytes& settingsBytes) {
    const std::string_view text = TextViewOf(settingsBytes);
    return Gbk::Contains(text, "#Start:") && text.ends_with("\r\n");
}

MergedSettings MergeSettings(const SettingsContent& base, const SettingsContent& mine, const SettingsContent& theirs) {
    const std::vector<std::string> baseKeys = KeysOf(base.servers);
    const std::vector<std::string> mineKeys = KeysOf(mine.servers);
    const std::vector<std::string> theirKeys = KeysOf(theirs.servers);
    Lines lines;
    lines.reserve(baseKeys.size() + mineKeys.size() / 8 + theirKeys.size() / 8 + 16);
    for (const std::string& key : baseKeys) {
        ++lines[key].base;
    }
    for (const std::string& key : mineKeys) {
        ++lines[key].mine;
    }
    for (const std::string& key : theirKeys) {
        ++lines[key].theirs;
    }
    for (auto& [key, line] : lines) {
        line.quota = MergedCount(line.base, line.mine, line.theirs);
    }

    // Theirs first, in their order: when this side changed nothing, the merge is exactly the file.
    std::vector<const ServerEntry*> order;
    order.reserve(theirs.servers.size());
    for (std::size_t index = 0; index < theirs.servers.size(); ++index) {
        LineInfo& line = lines[theirKeys[index]];
        if (line.quota > 0) {
            --line.quota;
            (line.placed++ == 0 ? line.firstPlace : line.laterPlaces.emplace_back()) = order.size();
            order.push_back(&theirs.servers[index]);
        }
    }
    // Then what only this side holds, each after the entry that comes before it here: (after how many of
    // `order`, which entry), kept in this side's order.
    std::vector<std::pair<std::size_t, const ServerEntry*>> inserted;
    std::size_t anchor = 0;
    for (std::size_t index = 0; index < mine.servers.size(); ++index) {
        LineInfo& line = lines[mineKeys[index]];
        const long rank = line.mineSeen++;
        if (rank < line.placed) {
            anchor = (rank == 0 ? line.firstPlace : line.laterPlaces[static_cast<std::size_t>(rank - 1)]) + 1;
        } else if (line.quota > 0) {
            --line.quota;
            inserted.emplace_back(anchor, &mine.servers[index]);
        }
    }
    std::stable_sort(inserted.begin(), inserted.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    MergedSettings merged;
    std::vector<ServerEntry>& servers = merged.content.servers;
    servers.reserve(order.size() + inserted.size());
    auto next = inserted.begin();
    for (std::size_t at = 0; at <= order.size(); ++at) {
        for (; next != inserted.end() && next->first == at; ++next) {
            servers.push_back(*next->second);
        }
        if (at < order.size()) {
            servers.push_back(*order[at]);
        }
    }
    for (ServerEntry& entry : servers) {
        entry.status = ServerStatus::Unknown;
    }

    // Entries both sides edited away from the same original, differently: both versions are in the list.
    const auto mineEdits = EditsOf(baseKeys, mineKeys, lines, &LineInfo::mine);
    const auto theirEdits = EditsOf(baseKeys, theirKeys, lines, &LineInfo::theirs);
    for (const auto& [original, mineAt] : mineEdits) {
        const auto theirAt = theirEdits.find(original);
        if (theirAt != theirEdits.end() && mineKeys[mineAt] != theirKeys[theirAt->second]) {
            merged.conflicts.push_back({base.servers[original], mine.servers[mineAt], theirs.servers[theirAt->second]});
        }
    }
    std::sort(merged.conflicts.begin(), merged.conflicts.end(), [&](const auto& a, const auto& b) {
        return std::make_tuple(a.original.host, a.original.port) < std::make_tuple(b.original.host, b.original.port);
    });

    merged.content.options.forceLogin =
        Pick(base.options.forceLogin, mine.options.forceLogin, theirs.options.forceLogin);
    merged.content.options.fullScreen =
        Pick(base.options.fullScreen, mine.options.fullScreen, theirs.options.fullScreen);
    merged.content.startupPassword = Pick(base.startupPassword, mine.startupPassword, theirs.startupPassword);
    return merged;
}
