#pragma once

#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

// Opens a remote desktop session to `entry` with the page's options. Failures stay silent, except that a
// missing client is named in a message box, so "连接" does not look dead.
void ConnectToServer(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk);
