#pragma once

#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

class QObject;

// Opens a remote desktop session to `entry` with the page's options. What keeps the launch from starting a
// client is said in a message box, and so is a client that ends with a failed login within its first minute;
// the watch of the client ends with `context`.
void ConnectToServer(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk, QObject* context);
