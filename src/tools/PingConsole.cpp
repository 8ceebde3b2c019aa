#include "tools/PingConsole.h"

#include "runtime/GbkQt.h"
#include "tools/PingArguments.h"

#include <QProcess>
#include <QStringDecoder>
#include <csignal>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// A killed child is gone within microseconds; this only bounds the wait should the system be stuck.
constexpr int kReapMilliseconds = 2000;

} // namespace

// The local ping, which runs in a process group of its own so that ending a run also ends anything it started.
struct PingConsole::Run {
    QProcess* process = nullptr;
    // The run's process group, which is the child's own id; 0 when there is none to end.
    pid_t group = 0;
    QStringDecoder decoder{QStringDecoder::Utf8};
};

PingConsole::PingConsole(QObject* parent)
    : QObject(parent) {}

PingConsole::~PingConsole() {
    EndChild();
}

void PingConsole::Start(const QString& target) {
    EndChild();
    const std::optional<std::string> text = Gbk::FromQString(target);
    if (!text) {
        Q_EMIT Output(QStringLiteral("目标中有无法处理的字符，未执行 ping。\n"));
        Q_EMIT Ended();
        return;
    }
    const PingArguments translated = TranslatePingArguments(*text);
    if (translated.refused) {
        // The reason goes below the usage, where the box, scrolled to its end, shows it.
        QString refusal = Gbk::ToQString(PingUsage());
        for (const std::string& notice : translated.notices) {
            refusal += QLatin1Char('\n') + Gbk::ToQString(notice) + QLatin1Char('\n');
        }
        Q_EMIT Output(refusal);
        Q_EMIT Ended();
        return;
    }
    for (const std::string& notice : translated.notices) {
        Q_EMIT Output(Gbk::ToQString(notice) + QLatin1Char('\n'));
    }
    QStringList arguments;
    for (const std::string& argument : translated.arguments) {
        arguments.append(Gbk::ToQString(argument));
    }

    run_ = std::make_unique<Run>();
    QProcess* process = run_->process = new QProcess(this);
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setChildProcessModifier([parent = ::getpid()] {
        // A group of its own lets a stop reach whatever the child starts. The parent-death signal ends the child
        // if this program is killed without a chance to clean up (or already was, before the signal was set);
        // the system drops that signal for a ping installed with file capabilities run by an ordinary user, and
        // such a ping ends at its next write into the pipe no one reads any more.
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) {
            ::_exit(1);
        }
    });
    auto readOutput = [this] {
        const QByteArray bytes = run_->process->readAllStandardOutput();
        const QString decoded = run_->decoder.decode(bytes);
        if (!decoded.isEmpty()) {
            Q_EMIT Output(decoded);
        }
    };
    connect(process, &QProcess::readyReadStandardOutput, this, readOutput);
    connect(process, &QProcess::finished, this, [this, readOutput] {
        readOutput();
        EndChild();
        Q_EMIT Ended();
    });
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        // Other errors are followed by finished(); a child that never started is not.
        if (error != QProcess::FailedToStart) {
            return;
        }
        EndChild();
        Q_EMIT Output(QStringLiteral("无法启动本机的 ping 命令，请确认已经安装（iputils-ping）。\n"));
        Q_EMIT Ended();
    });
    // The program is looked up on PATH and given its arguments one by one: no shell ever sees the text.
    process->start(QStringLiteral("ping"), arguments, QIODevice::ReadOnly);
    if (run_ != nullptr) {
        run_->group = static_cast<pid_t>(process->processId());
    }
}

void PingConsole::Stop() {
    EndChild();
}

void PingConsole::ShowStatistics() {
    // The local ping answers this signal with a line of its statistics so far and goes on; only the ping itself
    // gets it, since whatever else might run in its group would be ended by it.
    if (run_ != nullptr && run_->group > 0) {
        ::kill(run_->group, SIGQUIT);
    }
}

void PingConsole::EndChild() {
    if (run_ == nullptr) {
        return;
    }
    const std::unique_ptr<Run> run = std::move(run_);
    QProcess* process = run->process;
    process->disconnect(this);
    if (run->group > 0) {
        // Also after a natural end: whatever the child left running in its group must not outlive the run.
        ::kill(-run->group, SIGKILL);
    }
    if (process->state() != QProcess::NotRunning) {
        process->kill();
        process->waitForFinished(kReapMilliseconds);
    }
    // Later, since this may run inside one of the process's own signals.
    process->deleteLater();
}
