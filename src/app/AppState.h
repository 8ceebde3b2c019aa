#pragma once

#include "runtime/Bytes.h"
#include "runtime/ProgramDirectory.h"
#include "servers/ServerList.h"
#include "settings/SettingsFile.h"

#include <string>

// Everything the program keeps for its whole run. main() owns the one instance and hands it on by
// reference; nothing else is global.
struct AppState {
    // Where ms.ini and websc.edb are read and written; the defaults keep them in the current directory.
    DataDirectories directories;
    ServerList servers;
    // The deciphered ms.ini, read once at start and never refreshed.
    Bytes settingsBytes;
    // Where the settings are saved at exit; empty when this run may not write them, for the reason given.
    std::string settingsSavePath = kSettingsFileName;
    SettingsSaveBlock settingsSaveBlock = SettingsSaveBlock::None;
    // With an unreadable ms.ini, what was being done and the system's reason, for the message that says so.
    std::string settingsReadFailure;
    std::string startupPassword;
    // Set once the startup password is empty or has been given; never reset.
    bool unlocked = false;
};
