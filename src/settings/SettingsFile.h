#pragma once

#include "runtime/Bytes.h"
#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

#include <string>
#include <string_view>
#include <vector>

// ms.ini: the RC4-enciphered GBK text of server lines, option lines and the startup password line.
inline constexpr const char* kSettingsFileName = "ms.ini";
inline constexpr std::string_view kSettingsKey = "7403";
inline constexpr std::string_view kPasswordStart = "#LoadinPass:<";
inline constexpr std::string_view kPasswordEnd = ">";

// The text between every `start` and the following `end`, pieces joined by "||"; "" when a start has no end.
std::string ExtractMarked(std::string_view text, std::string_view start, std::string_view end);

// The deciphered settings bytes; empty when the file is missing, unreadable or empty.
Bytes LoadSettings(const std::string& fileName = kSettingsFileName);

// The startup password held by the settings bytes ("" when none is stored).
std::string StartupPasswordOf(const Bytes& settingsBytes);

// What the server lines and option lines of the settings bytes hold; options no line names keep their defaults.
struct ParsedSettings {
    std::vector<ServerEntry> servers;
    ConnectionOptions options;
};

ParsedSettings ParseSettings(const Bytes& settingsBytes);

// The settings text, before encipherment.
std::string SettingsText(const std::vector<ServerEntry>& servers, const ConnectionOptions& options,
                         std::string_view startupPassword);

// Writes the whole file anew, readable by its owner only; the old file survives a failed write.
bool SaveSettings(const std::vector<ServerEntry>& servers, const ConnectionOptions& options,
                  std::string_view startupPassword, const std::string& fileName = kSettingsFileName);

// Whether a startup password survives a save and a reload: no ">" (it would end the password early), no
// two "|" (the password line would read as a server entry) and no "#Start:" (it would reset the screen option).
bool IsStorableStartupPassword(std::string_view password);
