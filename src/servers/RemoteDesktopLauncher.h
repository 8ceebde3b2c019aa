#pragma once

#include "runtime/DetachedProcess.h"
#include "servers/RdpFile.h"
#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

#include <optional>
#include <string>
#include <vector>

// The registry key under which the client keeps its per-host device settings.
extern const char* const kLocalDevicesKey;

enum class LaunchOutcome {
    Started,
    NoClient,    // no remote desktop client is installed: nothing was written or started
    UnsafeValue, // a text of the entry would add lines to the connection file: nothing was written or started
    NoFile,      // no connection file could be made where only the user can reach it: nothing was started
    Failed,      // the client did not start; the file and the registry value may already be there
};

struct LaunchResult {
    LaunchOutcome outcome = LaunchOutcome::Failed;
    // With UnsafeValue, the text that was refused.
    ConnectionField unsafeField = ConnectionField::None;
    // The client program found on PATH.
    std::string client;
    std::string connectionFile;
    // The command line as the Windows client would get it; kept for the record, never run through a shell.
    std::string commandLine;
    // The running client, so that a failed login can be told; empty unless Started.
    std::optional<WatchedProcess> process;
    // With Failed, why the client did not start.
    std::optional<Failure> failure;
};

// The remote desktop clients looked for on PATH, the preferred one first.
const std::vector<std::string>& RemoteDesktopClients();

// The words of this platform's launcher that name its own client and places, in UTF-8 for the window to show:
// no client installed, no connection file could be made, and where the client keeps the certificates it trusts
// (`client` is the client's file name).
std::string NoClientText();
std::string NoFileText();
std::string TrustedCertificatesPlace(const std::string& client);

// Connects to `entry`: writes the connection file under a fresh unguessable name into a directory that is the
// user's alone, records the host's device value for the client when it has none, and starts the client
// without waiting for the session. The password goes to the client on its standard input only: the client
// cannot open the platform's protected blob, so the file's password line carries none.
LaunchResult LaunchRemoteDesktop(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk);
