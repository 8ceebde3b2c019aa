#pragma once

#include "runtime/Files.h"
#include "runtime/Result.h"
#include "settings/SettingsMerge.h"

#include <chrono>
#include <string>

// What ms.ini holds now, read without the save lock, as a watch reads it.
struct SettingsOnDisk {
    enum class State {
        Read,    // `content` is what the file holds (nothing when it is missing)
        Refused, // unreadable, too large, through another user's link, or not a settings file: never merged
    };
    State state = State::Read;
    SettingsContent content;
    // The text a save of `content` writes, to tell at a glance whether it is what a window already holds.
    std::string text;
    FileStamp stamp;
};

[[nodiscard]] SettingsOnDisk ReadSettingsOnDisk(const std::string& path);

// ms.ini as several windows, in one process or several, share it: each save reads the file again and merges
// what others wrote since this window last read or wrote it (the base) with this window's own state, under a
// lock between processes, so no window's change is lost.
class SharedSettingsFile {
public:
    SharedSettingsFile(std::string path, SettingsContent base);

    struct Saved {
        // A failure: the reason the file could not be locked, read or written. Busy when another process held
        // the lock past the patience given.
        Result<void> outcome;
        // The file is one no save may merge or overwrite (as ReadSettingsOnDisk refuses it).
        bool refused = false;
        // What the file holds now, merged; this window's state should become it. Its conflicts name entries
        // both sides changed differently.
        MergedSettings merged;
    };

    // Locks, reads, merges `mine` into what the file holds, writes the result when it differs, and takes it as
    // the new base.
    [[nodiscard]] Saved Save(const SettingsContent& mine, std::chrono::milliseconds patience);

    // Merges what a watch read from the file into `mine`, and takes the file's content as the new base.
    [[nodiscard]] MergedSettings TakeIn(const SettingsContent& mine, const SettingsOnDisk& onDisk);
    // The same for a window that holds nothing unsaved: the file's content is all of it, and no merge is needed.
    void TakeIn(SettingsOnDisk&& onDisk);

    [[nodiscard]] const SettingsContent& Base() const { return base_; }
    // Whether `onDisk` holds just what the base holds.
    [[nodiscard]] bool IsBase(const SettingsOnDisk& onDisk) const { return onDisk.text == baseText_; }
    [[nodiscard]] const std::string& Path() const { return path_; }
    // The name of the lock file kept beside the settings file.
    [[nodiscard]] static std::string LockPathFor(const std::string& path);

private:
    std::string path_;
    SettingsContent base_;
    std::string baseText_;
};
