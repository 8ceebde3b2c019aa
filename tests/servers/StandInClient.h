#pragma once

#include "support/TempDir.h"

#include <optional>
#include <string>
#include <vector>

// Stand-in remote desktop clients: shell scripts put first on PATH that record, for every run, the name they
// were started under, their arguments, their standard input, their environment and a copy of the file named
// by their first argument. They then wait STANDIN_SLEEP seconds and exit with STANDIN_EXIT, as a client whose
// login failed would. PATH is restored when the object goes.
class StandInClient {
public:
    struct Run {
        std::string name;
        std::vector<std::string> arguments;
        std::string input;
        std::string environment;
        std::string file;

        // The file as FreeRDP reads it: UTF-16LE after a byte-order mark, decoded to UTF-8; a file in any other
        // form gives "".
        std::string Utf8File() const;
    };

    explicit StandInClient(const std::vector<std::string>& names = {"xfreerdp"});
    ~StandInClient();
    StandInClient(const StandInClient&) = delete;
    StandInClient& operator=(const StandInClient&) = delete;

    // The next finished run; nullopt when none finishes within ten seconds.
    std::optional<Run> WaitForRun();
    // How many runs have started so far.
    int Started() const;

private:
    TempDir dir_;
    std::string oldPath_;
    int taken_ = 0;
};

// Points an environment variable elsewhere while the object lives.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};
