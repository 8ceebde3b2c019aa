#include "settings/SharedSettings.h"

#include "runtime/Log.h"
#include "runtime/ProcessLock.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"

SettingsOnDisk ReadSettingsOnDisk(const std::string& path) {
    SettingsOnDisk disk;
    // The stamp first: a change landing between the two reads is then seen again at the next look.
    disk.stamp = StampOf(path);
    if (!LinksAreTrusted(path)) {
        disk.state = SettingsOnDisk::State::Refused;
        return disk;
    }
    const FileRead file = ReadFile(path);
    if (!file && !IsMissing(file)) {
        Log::Failure("settings", "ms.ini was not merged", file.error());
        disk.state = SettingsOnDisk::State::Refused;
        return disk;
    }
    if (!file || file->empty()) {
        return disk;
    }
    const Bytes settings = Rc4Crypt(*file, kSettingsKey);
    if (!LooksLikeSettings(settings)) {
        disk.state = SettingsOnDisk::State::Refused;
        return disk;
    }
    disk.content = ContentOf(settings);
    disk.text = SettingsText(disk.content.servers, disk.content.options, disk.content.startupPassword);
    return disk;
}

SharedSettingsFile::SharedSettingsFile(std::string path, SettingsContent base)
    : path_(std::move(path))
    , base_(std::move(base))
    , baseText_(SettingsText(base_.servers, base_.options, base_.startupPassword)) {}

std::string SharedSettingsFile::LockPathFor(const std::string& path) {
    return path + ".lock";
}

SharedSettingsFile::Saved SharedSettingsFile::Save(const SettingsContent& mine, std::chrono::milliseconds patience) {
    Saved saved;
    ProcessLock lock;
    // The lock file sits beside the settings, which the save replaces: locking the settings file itself would
    // lock a file that the next save takes away.
    if (Result<void> locked = lock.Acquire(LockPathFor(path_), patience);
        !locked && locked.Reason() == std::make_error_condition(std::errc::device_or_resource_busy)) {
        saved.outcome = locked;
        return saved;
    }
    // A lock file that cannot be made (a directory that takes no new files but lets ms.ini be replaced) leaves
    // the save as it was before there were several windows.
    const SettingsOnDisk disk = ReadSettingsOnDisk(path_);
    if (disk.state == SettingsOnDisk::State::Refused) {
        saved.refused = true;
        return saved;
    }
    // A file that is gone or empty was not emptied by a save, which always writes the option lines: nothing
    // of it is taken as deleted.
    const bool present = disk.stamp.exists && disk.stamp.size > 0;
    const SettingsContent& theirs = present ? disk.content : base_;
    saved.merged = MergeSettings(base_, mine, theirs);
    // Written even when nothing changed, as every save always has been: the file then has the form saves give it.
    const SettingsContent& content = saved.merged.content;
    saved.outcome = SaveSettings(content.servers, content.options, content.startupPassword, path_);
    if (!saved.outcome) {
        return saved;
    }
    base_ = content;
    baseText_ = SettingsText(content.servers, content.options, content.startupPassword);
    return saved;
}

MergedSettings SharedSettingsFile::TakeIn(const SettingsContent& mine, const SettingsOnDisk& onDisk) {
    MergedSettings merged = MergeSettings(base_, mine, onDisk.content);
    base_ = onDisk.content;
    baseText_ = onDisk.text;
    return merged;
}

void SharedSettingsFile::TakeIn(SettingsOnDisk&& onDisk) {
    base_ = std::move(onDisk.content);
    baseText_ = std::move(onDisk.text);
}
