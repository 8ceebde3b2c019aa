#pragma once

#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

#include <string>
#include <vector>

// The registry key under which the client keeps its per-host device settings.
extern const char* const kLocalDevicesKey;

enum class LaunchOutcome {
    Started,
    NoClient, // no remote desktop client is installed: nothing was written or started
    Failed,   // the client did not start; the file and the registry value may already be there
};

struct LaunchResult {
    LaunchOutcome outcome = LaunchOutcome::Failed;
    std::string connectionFile;
    // The command line as the Windows client would get it; kept for the record, never run through a shell.
    std::string commandLine;
};

// The remote desktop clients looked for on PATH, the preferred one first.
const std::vector<std::string>& RemoteDesktopClients();

// Connects to `entry`: writes the connection file to a fresh temporary file (mode 0600), records the host's
// device value for the client when it has none, and starts the client without waiting for the session. The
// password goes to the client on its standard input as well, since the client does not read it from the file.
LaunchResult LaunchRemoteDesktop(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk);
