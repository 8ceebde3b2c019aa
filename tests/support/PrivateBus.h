#pragma once

// Runs the whole test program again under dbus-run-session, on a session bus of its own, before anything else
// starts, so that nothing the tests do ever reaches the desktop of whoever runs them. Returns true in that run;
// false when it could not be done, and then no other bus is reached either. Call it from one namespace-scope
// initialiser.
bool RunOnPrivateBus();
