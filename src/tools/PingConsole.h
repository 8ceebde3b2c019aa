#pragma once

#include <QObject>
#include <QProcess>
#include <QStringDecoder>
#include <sys/types.h>

// Runs the local ping for the network tools page and hands on what it prints. One run at a time; the console is
// kept for the page's whole life. The child runs in a process group of its own, so ending a run also ends
// anything it started, and nothing of a run outlives the console.
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
    bool IsRunning() const { return process_ != nullptr; }

Q_SIGNALS:
    // Text of the current run, in the order it was written; a character split between two reads comes whole.
    void Output(const QString& text);
    // The run ended by itself (the child and all it started are gone) or could not start. Not sent after Stop().
    void Ended();

private:
    void OnReadyRead();
    void OnFinished();
    void OnErrorOccurred(QProcess::ProcessError error);
    // Kills the run's process group and lets go of the process; no signal of it reaches the console afterwards.
    void EndChild();

    QProcess* process_ = nullptr;
    // The run's process group, which is the child's own id; 0 when there is none to end.
    pid_t group_ = 0;
    QStringDecoder decoder_;
};
