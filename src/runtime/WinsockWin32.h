#pragma once

namespace Win32 {

// Starts Windows Sockets once for the process (it is never stopped); false when it could not be started.
bool StartWinsock();

} // namespace Win32
