#pragma once

#include <chrono>
#include <string>
#include <vector>
#include <windows.h>

// A program built beside the test program, by its file name.
std::string BesideTest(const std::string& fileName);

// Starts `program` with `arguments` (none holding blanks); the process handle, or nullptr.
HANDLE StartChild(const std::string& program, const std::vector<std::string>& arguments);

// Waits for `process` and gives its exit code; -1 when it did not end within `bound`.
int WaitForChild(HANDLE process, std::chrono::milliseconds bound);

// Sets an environment variable for this process and the ones it starts.
void SetVariable(const std::string& name, const std::string& value);

// For a child that holds `path` (its "hold" and "holdlock" modes): whether it says it holds it within `bound`,
// and the word to let go.
bool WaitUntilHeld(const std::string& path, std::chrono::milliseconds bound);
void Release(const std::string& path);
