#pragma once

#include "servers/RemoteDesktopLauncher.h"

#include <optional>

// The steps of a connect that are the same on every platform; each platform's launcher runs them around its
// own way of handing over the password and starting the client.

// The result that ends a connect before anything is written: a text of the entry that would add lines to
// the connection file, or no client installed. Nullopt when the connect may go on; `client` is then the
// client's path.
std::optional<LaunchResult> RefusedLaunch(const ServerEntry& entry, std::string& client);

// Records the client's device value for `host` when it has none; a value already there is left alone.
void RecordLocalDevices(const std::string& host);
