#pragma once

#include <QObject>
#include <QString>
#include <memory>

// Runs the platform's ping for the network tools page and hands on what it prints. One run at a time; the console
// is kept for the page's whole life. Ending a run also ends anything the child started, and nothing of a run
// outlives the console. On Linux the local ping runs with the options translated (PingConsole.cpp); on Windows the
// system's ping.exe gets the text as typed (PingConsoleWin32.cpp).
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
    // The platform's part of the current run: the child and the decoder of its output. Null while idle.
    struct Run;

    // Ends the run's child and whatever it started and lets go of them; no signal of the run reaches the console
    // afterwards.
    void EndChild();

    std::unique_ptr<Run> run_;
};
