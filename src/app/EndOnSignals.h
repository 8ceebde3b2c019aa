#pragma once

// Turns SIGTERM, SIGHUP and SIGINT (a logout, `kill`, Ctrl+C in a terminal) into an orderly end: every window
// is closed as its close button would close it, so what they hold is saved, and every event loop ends with
// 128 plus the signal's number. A signal that comes before any event loop has run ends the program at once with
// that code, since nothing is open then that would need saving. Call once the application object exists.
void EndOnSignals();

// Whether a signal has asked the program to end; nothing that waits for the user may start then.
[[nodiscard]] bool EndRequested();

// The exit code the signal that ended the program asks for; 0 when none did.
[[nodiscard]] int EndExitCode();
