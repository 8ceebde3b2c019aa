#pragma once

#include <chrono>

// Qt's accessibility bridge, the tray and the desktop notices all ask the session bus on the windows thread and
// wait for it without a bound: a bus that accepts a connection and never speaks, or whose accessibility service
// hangs, would keep the window from ever answering. Called before the windows layer starts, this asks the bus
// itself, waiting at most `bound`; when it has not answered by then, the process (and what it starts) is pointed
// at no bus at all, so that every later use fails at once and only costs the tray and the notices. Returns
// whether the bus answered.
bool SettleSessionBus(std::chrono::milliseconds bound);

// The address every use of the session bus is given once SettleSessionBus found it unusable.
inline constexpr char kNoSessionBus[] = "unix:path=/dev/null/no-session-bus";
