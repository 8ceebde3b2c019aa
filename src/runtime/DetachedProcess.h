#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

// The full path of the program `name` as the shell finds it on PATH; empty when none is there.
std::string FindOnPath(const std::string& name);

// Starts `program` (a path) with `arguments`, no shell between, in a session of its own that this process
// never waits for and never leaves as a zombie. Its standard input holds `input` and then ends, so a secret
// handed over this way shows neither in the arguments nor in the environment. True once the program runs.
bool StartDetached(const std::string& program, const std::vector<std::string>& arguments, std::string_view input);

// Windows only: starts `commandLine` (UTF-8) as CreateProcess reads it, the program being its first word, found by
// the system's search for programs, with a normal window. Waits at most `idleWait` for it to become idle, then
// lets it go. True once it runs.
bool StartCommandLine(const std::string& commandLine, std::chrono::milliseconds idleWait);
