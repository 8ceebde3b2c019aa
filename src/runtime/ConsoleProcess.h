#pragma once

#include "runtime/Result.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// A console program run with its standard output and standard error on one pipe that this process reads, as a
// console window would show them both. One run at a time; nothing of a run outlives its Stop() or the object,
// and neither the program nor anything it starts outlives this process.
class ConsoleProcess {
public:
    ConsoleProcess();
    ~ConsoleProcess();
    ConsoleProcess(const ConsoleProcess&) = delete;
    ConsoleProcess& operator=(const ConsoleProcess&) = delete;

    // Starts `program`, found by the system's search for programs, with `arguments` (UTF-8); no shell sees any of
    // them. On Linux each argument is one word of the program's; on Windows, where a program splits its command
    // line itself, each follows the program's name after one blank, as it is. The program's console, if it gets
    // one, is hidden. A run still going is stopped first.
    Result<void> Start(const std::string& program, const std::vector<std::string>& arguments);

    // What the program has written since the last read, the bytes as it wrote them, waiting at most `wait` for
    // something to come; empty when nothing came.
    [[nodiscard]] std::string Read(std::chrono::milliseconds wait);

    // True once the run is over: the program has ended or closed its output, all it wrote has been read, and
    // whatever it started has been ended with it. Also true when nothing runs.
    [[nodiscard]] bool Ended() const;

    // Asks the program for a report of its progress as a terminal's key does: SIGQUIT (Ctrl+\) on Linux, and
    // only to the program itself, not to what it started. Nothing on Windows, whose Ctrl+Break reaches only the
    // processes of one's own console, and the program's is hidden. Nothing when idle.
    void Break();

    // Ends the run at once: the program and whatever it started are ended, and nothing more of it is read.
    void Stop();

private:
    struct Run;

    // Start's work, the run being stopped already.
    Result<void> Begin(const std::string& program, const std::vector<std::string>& arguments);

    std::unique_ptr<Run> run_;
};
