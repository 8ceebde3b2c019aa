#pragma once

#include <QString>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

// Processes as /proc shows them, for tests that must prove a run left nothing behind.
std::vector<pid_t> ChildrenOfThisProcess();
// True when the process no longer runs: gone, or a zombie waiting for its new parent.
bool ProcessGone(pid_t pid);
// The number written into a file by a stand-in script, or 0 while it is not there yet.
pid_t PidFromFile(const std::string& path);

// Runs the event loop until `done` holds or `milliseconds` pass; returns `done()`.
bool WaitUntil(const std::function<bool()>& done, int milliseconds = 5000);
// Runs the event loop for a while, handling deferred deletes too.
void Spin(int milliseconds);

// A directory put first on PATH that holds a stand-in `ping` shell script; PATH is restored when it goes.
class StandInPing {
public:
    StandInPing();
    ~StandInPing();
    StandInPing(const StandInPing&) = delete;
    StandInPing& operator=(const StandInPing&) = delete;

    // Writes the script's body (after "#!/bin/sh"); $DIR names the stand-in's directory inside it.
    void Script(const std::string& body);
    std::string File(const std::string& name) const;
    std::string Read(const std::string& name) const;

private:
    std::string dir_;
    QByteArray path_;
};
