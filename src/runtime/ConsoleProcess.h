#pragma once

#include "runtime/Outcome.h"

#include <chrono>
#include <memory>
#include <string>

// A console program run with its standard output and standard error on one pipe that this process reads, as a
// console window would show them both. One run at a time; nothing of a run outlives its Stop() or the object.
// Windows only: on Linux the windows run their console programs through QProcess.
class ConsoleProcess {
public:
    ConsoleProcess();
    ~ConsoleProcess();
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    // Starts `commandLine` (GBK) as the system's process start reads it: the program is its first word, found by
    // the system's search for programs, and the rest reaches it unchanged; no shell sees any of it. The console it
    // gets is hidden. A run still going is stopped first.
    Outcome Start(const std::string& commandLine);

    // What the program has written since the last read, the bytes as it wrote them, waiting at most `wait` for
    // something to come; empty when nothing came.
    [[nodiscard]] std::string Read(std::chrono::milliseconds wait);

    // True once the run is over: the program has ended or closed its output, all it wrote has been read, and
    // whatever it started has been ended with it. Also true when nothing runs.
    [[nodiscard]] bool Ended() const;

    // Ends the run at once: the program and whatever it started are ended, and nothing more of it is read.
    void Stop();

private:
    struct Run;
    std::unique_ptr<Run> run_;
};
