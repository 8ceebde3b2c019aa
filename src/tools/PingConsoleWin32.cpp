#include "tools/PingConsole.h"

#include "runtime/ConsoleProcess.h"
#include "runtime/GbkDecoder.h"
#include "runtime/GbkQt.h"
#include "tools/PingArguments.h"

#include <QTimer>

namespace {

// How often the pipe is looked at while a run goes on: often enough that each reply shows as it comes.
constexpr int kPollMilliseconds = 50;
// The most one look reads, so that a flood of output cannot hold the window.
constexpr int kReadsPerLook = 16;

} // namespace

// The system's ping.exe with its output on a pipe, looked at on a timer, since an anonymous pipe cannot wake the
// event loop.
struct PingConsole::Run {
    ConsoleProcess child;
    // The Chinese system's ping prints in code page 936.
    Gbk::StreamDecoder decoder;
    QTimer* timer = nullptr;
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
    auto run = std::make_unique<Run>();
    // The Windows ping reads the options the rules window documents itself: the text goes to it as typed, and the
    // ping's own usage answers a line it cannot take.
    if (!run->child.Start(WindowsPingCommandLine(*text))) {
        Q_EMIT Output(QStringLiteral("无法启动 ping 命令。\n"));
        Q_EMIT Ended();
        return;
    }
    run->timer = new QTimer(this);
    connect(run->timer, &QTimer::timeout, this, [this, self = run.get()] {
        if (run_.get() != self) {
            return;
        }
        std::string bytes;
        for (int read = 0; read < kReadsPerLook && !run_->child.Ended(); ++read) {
            const std::string piece = run_->child.Read(std::chrono::milliseconds(0));
            if (piece.empty()) {
                break;
            }
            bytes += piece;
        }
        std::string decoded = run_->decoder.Decode(bytes);
        const bool ended = run_->child.Ended();
        if (ended) {
            decoded += run_->decoder.Finish();
        }
        if (!decoded.empty()) {
            Q_EMIT Output(QString::fromStdString(decoded));
        }
        // A slot of Output may have stopped the run, or started another, meanwhile; then nothing more is said of it.
        if (ended && run_.get() == self) {
            EndChild();
            Q_EMIT Ended();
        }
    });
    run->timer->start(kPollMilliseconds);
    run_ = std::move(run);
}

void PingConsole::Stop() {
    EndChild();
}

void PingConsole::ShowStatistics() {
    // Windows' ping prints its statistics on Ctrl+Break, a console event that only a process sharing its console can
    // send; the ping's hidden console is its own, so here the run goes on without them.
}

void PingConsole::EndChild() {
    if (run_ == nullptr) {
        return;
    }
    const std::unique_ptr<Run> run = std::move(run_);
    run->timer->stop();
    // Later, since this may run inside the timer's own signal.
    run->timer->deleteLater();
    run->child.Stop();
}

// The class's header has no source file of its own name here, so its moc output is compiled with this one.
#include "moc_PingConsole.cpp"
