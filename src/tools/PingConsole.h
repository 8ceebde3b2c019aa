#pragma once

#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

// Runs the platform's ping for the network tools page and hands on what it prints. One run at a time; the console
// is kept for the page's whole life. Ending a run also ends anything the child started, and nothing of a run
// outlives the console. On Linux the local ping runs with the options translated; on Windows the system's ping.exe
// gets the text as typed.
class PingConsole : public QObject {
    Q_OBJECT

public:
    explicit PingConsole(QObject* parent = nullptr);
    ~PingConsole() override;

    // Starts "ping " followed by `target` as the user typed it; an earlier run is ended first. Options that have
    // no local equivalent are reported through Output before the child's own text. A line that is no ping to
    // start (no target, two targets, an unknown option) gives the usage and the reason, then Ended, and starts
    // nothing.
    void Start(const QString& target);
    // Ends the run at once: its processes are killed and nothing more of it is reported. Not for use from a slot
    // of this console's own signals.
    void Stop();
    // Has the running ping print its statistics so far, as Ctrl+Break does to Windows' ping; nothing when idle.
    void ShowStatistics();
    bool IsRunning() const { return run_ != nullptr; }

Q_SIGNALS:
    // Text of the current run, in the order it was written; a character split between two reads comes whole.
    void Output(const QString& text);
    // The run ended by itself (the child and all it started are gone) or could not start. Not sent after Stop().
    void Ended();

private:
    // What this platform's ping is started with for a typed line, or what is shown instead of a run.
    struct Command {
        // The arguments after "ping", UTF-8.
        std::vector<std::string> arguments;
        // UTF-8 lines for the output box before the run's own text, or in place of it when `refused`.
        QString notices;
        bool refused = false;
        // Whether the ping prints GBK (the Chinese Windows' code page 936) rather than UTF-8.
        bool printsGbk = false;
        // What the box says when the ping cannot be started.
        QString startFailure;
    };
    // The command for `typed`, the GBK text behind "ping ".
    static Command CommandFor(const std::string& typed);

    // The current run: the child, the decoder of its output and the timer that reads it. Null while idle.
    struct Run;

    // Ends the run's child and whatever it started and lets go of them; no signal of the run reaches the console
    // afterwards.
    void EndChild();

    std::unique_ptr<Run> run_;
};
