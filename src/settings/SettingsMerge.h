#pragma once

#include "runtime/Bytes.h"
#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

#include <string>
#include <vector>

// Everything ms.ini holds, as one window sees it.
struct SettingsContent {
    std::vector<ServerEntry> servers;
    ConnectionOptions options;
    std::string startupPassword;

    // Equal when a save of either would write the same file; the probe status is not part of it.
    [[nodiscard]] bool SameAs(const SettingsContent& other) const;
};

// The content of deciphered settings bytes, as the reader takes it.
[[nodiscard]] SettingsContent ContentOf(const Bytes& settingsBytes);

// Whether deciphered bytes are a settings file at all: every file a save writes holds the screen line and ends
// in a line break, which noise from another key or another file does not.
[[nodiscard]] bool LooksLikeSettings(const Bytes& settingsBytes);

// One entry that two sides changed differently from the same original; both versions were kept.
struct SettingsConflict {
    ServerEntry original;
    ServerEntry mine;
    ServerEntry theirs;
};

struct MergedSettings {
    SettingsContent content;
    std::vector<SettingsConflict> conflicts;
};

// Three-way merge of two sides that both started from `base`. A server line is an entry's identity, counted with
// its multiplicity: what either side added is kept, what either side deleted goes, a change both made alike is
// made once, and an edit is the deletion of the old line with the addition of the new, so an entry edited on
// one side and deleted on the other stays, edited, and one edited differently on both stays in both versions.
// The list keeps the order of `theirs`, with what only `mine` holds placed after its neighbour in `mine`. An
// option or the password takes the side that changed it, `mine` when both did.
[[nodiscard]] MergedSettings MergeSettings(const SettingsContent& base, const SettingsContent& mine,
                                           const SettingsContent& theirs);
