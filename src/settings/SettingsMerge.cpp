#include "settings/SettingsMerge.h"

#include "runtime/Gbk.h"
#include "settings/SettingsFile.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <tuple>
#include <unordered_map>

namespace {

// An entry's five texts as one key; no field holds a zero byte, since the settings text ends at the first one.
std::string KeyOf(const ServerEntry& entry) {
    std::string key;
    key.reserve(entry.host.size() + entry.port.size() + entry.account.size() + entry.password.size() +
                entry.note.size() + 4);
    for (const std::string* field : {&entry.host, &entry.port, &entry.account, &entry.password}) {
        key.append(*field).push_back('\0');
    }
    return key.append(entry.note);
}

using Counts = std::unordered_map<std::string, long>;

Counts CountsOf(const std::vector<ServerEntry>& servers, std::vector<std::string>& keys) {
    Counts counts;
    counts.reserve(servers.size());
    keys.reserve(servers.size());
    for (const ServerEntry& entry : servers) {
        keys.push_back(KeyOf(entry));
        ++counts[keys.back()];
    }
    return counts;
}

long CountIn(const Counts& counts, const std::string& key) {
    const auto found = counts.find(key);
    return found == counts.end() ? 0 : found->second;
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
std::unordered_map<std::size_t, std::size_t> EditsOf(const std::vector<std::string>& base, const Counts& baseCounts,
                                                     const std::vector<std::string>& side, const Counts& sideCounts) {
    std::unordered_map<std::size_t, std::size_t> edits;
    std::size_t b = 0;
    std::size_t s = 0;
    while (b < base.size() && s < side.size()) {
        if (base[b] == side[s]) {
            ++b;
            ++s;
            continue;
        }
        const bool baseGone = CountIn(sideCounts, base[b]) < CountIn(baseCounts, base[b]);
        const bool sideNew = CountIn(baseCounts, side[s]) < CountIn(sideCounts, side[s]);
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
    std::vector<std::string> baseKeys;
    std::vector<std::string> mineKeys;
    std::vector<std::string> theirKeys;
    const Counts baseCounts = CountsOf(base.servers, baseKeys);
    const Counts mineCounts = CountsOf(mine.servers, mineKeys);
    const Counts theirCounts = CountsOf(theirs.servers, theirKeys);

    // How many more copies of each line the merged list may still take.
    Counts quota;
    quota.reserve(mineCounts.size() + theirCounts.size());
    for (const Counts* side : {&baseCounts, &mineCounts, &theirCounts}) {
        for (const auto& [key, count] : *side) {
            if (!quota.contains(key)) {
                quota.emplace(
                    key, MergedCount(CountIn(baseCounts, key), CountIn(mineCounts, key), CountIn(theirCounts, key)));
            }
        }
    }

    MergedSettings merged;
    std::vector<const ServerEntry*> order;
    order.reserve(theirs.servers.size());
    // Where each line stands in `order`, one position per copy.
    std::unordered_map<std::string, std::vector<std::size_t>> positions;
    // Theirs first, in their order: when this side changed nothing, the merge is exactly the file.
    for (std::size_t index = 0; index < theirs.servers.size(); ++index) {
        if (long& left = quota[theirKeys[index]]; left > 0) {
            --left;
            positions[theirKeys[index]].push_back(order.size());
            order.push_back(&theirs.servers[index]);
        }
    }
    // Then what only this side holds, each after the entry that comes before it here.
    std::vector<std::vector<const ServerEntry*>> after(order.size() + 1);
    std::size_t anchor = 0; // 0: before everything; n: after order[n - 1]
    Counts seen;
    for (std::size_t index = 0; index < mine.servers.size(); ++index) {
        const std::string& key = mineKeys[index];
        const long occurrence = seen[key]++;
        const auto found = positions.find(key);
        if (found != positions.end() && occurrence < static_cast<long>(found->second.size())) {
            anchor = found->second[static_cast<std::size_t>(occurrence)] + 1;
        } else if (long& left = quota[key]; left > 0) {
            --left;
            after[anchor].push_back(&mine.servers[index]);
        }
    }
    merged.content.servers.reserve(order.size() + mine.servers.size());
    for (std::size_t at = 0; at <= order.size(); ++at) {
        for (const ServerEntry* entry : after[at]) {
            merged.content.servers.push_back(*entry);
        }
        if (at < order.size()) {
            merged.content.servers.push_back(*order[at]);
        }
    }
    for (ServerEntry& entry : merged.content.servers) {
        entry.status = ServerStatus::Unknown;
    }

    // Entries both sides edited away from the same original, differently: both versions are in the list.
    const auto mineEdits = EditsOf(baseKeys, baseCounts, mineKeys, mineCounts);
    const auto theirEdits = EditsOf(baseKeys, baseCounts, theirKeys, theirCounts);
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
