#pragma once

// Ends the process at once with `exitCode`: no window is closed, nothing is saved.
[[noreturn]] void EndProgram(int exitCode);
