#include "tools/PingConsole.h"

#include "runtime/ConsoleProcess.h"
#include "runtime/GbkDecoder.h"
#include "runtime/GbkQt.h"
#include "runtime/Log.h"

#include <QStringDecoder>
#include <QTimer>

namespace {

// How often the pipe is looked at while a run goes on: often enough that each reply shows as it comes.
constexpr int kPollMilliseconds = 50;
// The most one look reads, so that a flood of output cannot hold the window.
constexpr int kReadsPerLook = 16;

} // namespace

// The ping with its output on a pipe, looked at on a timer, since a Windows anonymous pipe cannot wake the event
// loop.
struct PingConsole::Run {
    ConsoleProcess child;
    bool gbk = false;
    Gbk::StreamDecoder gbkDecoder;
    QStringDecoder utf8Decoder{QStringDecoder::Utf8};
    QTimer* timer = nullptr;

    // The text of `bytes`, a character cut between two pieces coming whole with the later one.
    QString Decode(const std::string& bytes) {
        if (!gbk) {
            return utf8Decoder.decode(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
        }
        return QString::fromStdString(gbkDecoder.Decode(bytes));
    }
    // What is left over once the run has ended.
    QString Finish() { return gbk ? QString::fromStdString(gbkDecoder.Finish()) : QString(); }
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
    const Command command = CommandFor(*text);
    if (command.refused) {
        Q_EMIT Output(command.notices);
        Q_EMIT Ended();
        return;
    }
    if (!command.notices.isEmpty()) {
        Q_EMIT Output(command.notices);
    }
    auto run = std::make_unique<Run>();
    run->gbk = command.printsGbk;
    // The program is looked up on the system's path and given its arguments: no shell ever sees the text.
    if (const Result<void> started = run->child.Start("ping", command.arguments); !started) {
        Log::Failure("tools", "the ping console ran nothing", started.error());
        Q_EMIT Output(command.startFailure);
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
        QString decoded = run_->Decode(bytes);
        const bool ended = run_->child.Ended();
        if (ended) {
            decoded += run_->Finish();
        }
        if (!decoded.isEmpty()) {
            Q_EMIT Output(decoded);
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
    // The local ping answers this with a line of its statistics so far and goes on; Windows' hidden one cannot
    // be asked, so there the run goes on without them.
    if (run_ != nullptr) {
        run_->child.Break();
    }
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
