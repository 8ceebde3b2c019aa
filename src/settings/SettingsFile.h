#pragma once

#include "runtime/Bytes.h"
#include "runtime/Files.h"
#include "runtime/ProgramDirectory.h"
#include "runtime/Result.h"
#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// ms.ini: the RC4-enciphered GBK text of server lines, option lines and the startup password line.
inline constexpr const char* kSettingsFileName = "ms.ini";
inline constexpr std::string_view kSettingsKey = "7403";
inline constexpr std::string_view kPasswordStart = "#LoadinPass:<";
inline constexpr std::string_view kPasswordEnd = ">";

// The text between every `start` and the following `end`, pieces joined by "||"; "" when a start has no end.
[[nodiscard]] std::string ExtractMarked(std::string_view text, std::string_view start, std::string_view end);

// The deciphered settings bytes; empty when the file is missing, unreadable or empty.
[[nodiscard]] Bytes LoadSettings(const std::string& fileName = kSettingsFileName);

// Why a run may not write ms.ini; every case but None keeps what is on disk as it is.
enum class SettingsSaveBlock {
    None,
    Unreadable,  // the file exists but could not be read: a save would replace what we never saw
    ReadOnly,    // the user may not write the file
    NoDirectory, // there is no directory the settings could be kept in
};

struct LoadedSettings {
    Bytes bytes;          // the deciphered settings bytes, empty when nothing could be read
    std::string savePath; // where the settings are saved; empty when they may not be
    SettingsSaveBlock block = SettingsSaveBlock::None;
    // With Unreadable, why the file could not be read.
    std::optional<Failure> readFailure;
    // The file saves go to as it was before the read, so that another window's save just after is still seen.
    FileStamp stamp;
};

// Reads ms.ini from where `directories` say, and decides where, if anywhere, this run may save it.
[[nodiscard]] LoadedSettings LoadSettings(const DataDirectories& directories);

// The startup password held by the settings bytes ("" when none is stored).
[[nodiscard]] std::string StartupPasswordOf(const Bytes& settingsBytes);

// What the server lines and option lines of the settings bytes hold; options no line names keep their defaults.
struct ParsedSettings {
    std::vector<ServerEntry> servers;
    ConnectionOptions options;
};

ParsedSettings ParseSettings(const Bytes& settingsBytes);

// The settings text, before encipherment.
[[nodiscard]] std::string SettingsText(const std::vector<ServerEntry>& servers, const ConnectionOptions& options,
                                       std::string_view startupPassword);

// The bytes one server line takes in the settings text.
[[nodiscard]] std::size_t ServerLineSize(const ServerEntry& entry);

// How many more bytes the settings text may grow by before ms.ini would be too large to read back: the room
// left beside `servers` and `startupPassword`, counting the option lines at their longest.
[[nodiscard]] std::size_t SettingsRoom(const std::vector<ServerEntry>& servers, std::string_view startupPassword);

// Writes the whole file anew, readable by its owner only; the old file survives a failed write, whose reason
// the result carries.
[[nodiscard]] Result<void> SaveSettings(const std::vector<ServerEntry>& servers, const ConnectionOptions& options,
                                        std::string_view startupPassword,
                                        const std::string& fileName = kSettingsFileName);

// Whether a startup password survives a save and a reload: no ">" (it would end the password early), no
// two "|" (the password line would read as a server entry) and no "#Start:" (it would reset the screen option).
[[nodiscard]] bool IsStorableStartupPassword(std::string_view password);
