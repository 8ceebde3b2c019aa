#pragma once

#include "runtime/Bytes.h"
#include "servers/ServerList.h"

#include <string>

// Everything the program keeps for its whole run. main() owns the one instance and hands it on by
// reference; nothing else is global.
struct AppState {
    ServerList servers;
    // The deciphered ms.ini, read once at start and never refreshed.
    Bytes settingsBytes;
    std::string startupPassword;
    // Set once the startup password is empty or has been given; never reset.
    bool unlocked = false;
};
