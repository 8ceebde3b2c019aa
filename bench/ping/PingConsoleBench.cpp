// The ping console on the real network tools page, fed by a stand-in `ping` first on PATH: how soon a line the
// child writes shows in the output box, and whether a child that floods the box stalls the window or grows memory.
#include "app/Application.h"
#include "tools/NetToolsPage.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string standInDir;

void WriteStandIn(const std::string& body) {
    const std::string path = standInDir + "/ping";
    std::ofstream(path + ".new") << "#!/bin/bash\n" << body << '\n';
    ::chmod((path + ".new").c_str(), 0755);
    std::filesystem::rename(path + ".new", path);
}

// The resident and peak set sizes of this process in KiB, from /proc.
long StatusKib(const std::string& field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return 0;
}

struct Page {
    Page() {
        page.show();
        target = page.findChild<QLineEdit*>(QStringLiteral("编辑框1"));
        button = page.findChild<QPushButton*>(QStringLiteral("按钮3"));
        box = page.findChild<QPlainTextEdit*>(QStringLiteral("编辑框2"));
    }
    // Clicks "开始Ping" and runs the event loop until the caption comes back; `tick` runs on every idle turn.
    void Run(const QString& text, const std::function<void()>& tick = {}) {
        target->setText(text);
        button->click();
        QTimer idle;
        idle.setInterval(0);
        QObject::connect(&idle, &QTimer::timeout, &idle, [&] { tick(); });
        if (tick) {
            idle.start();
        }
        while (button->text() != QStringLiteral("开始Ping")) {
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
    }

    NetToolsPage page;
    QLineEdit* target;
    QPushButton* button;
    QPlainTextEdit* box;
};

// The child writes its clock's time and then sleeps; the box's change handler compares with the clock on arrival.
void OutputLatency(benchmark::State& state) {
    WriteStandIn(R"(for i in $(seq 100); do printf '%s\n' "$EPOCHREALTIME"; sleep 0.01; done)");
    double worst = 0;
    double total = 0;
    int lines = 0;
    for (auto _ : state) {
        Page page;
        QObject::connect(page.box->document(), &QTextDocument::contentsChanged, page.box, [&] {
            const double now =
                std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
            const QString last = page.box->document()->lastBlock().previous().text();
            bool ok = false;
            const double written = last.toDouble(&ok);
            if (ok) {
                const double ms = (now - written) * 1000;
                worst = std::max(worst, ms);
                total += ms;
                ++lines;
            }
        });
        page.Run(QStringLiteral("127.0.0.1 -t"));
    }
    state.counters["lines"] = lines;
    state.counters["mean_ms"] = lines > 0 ? total / lines : 0;
    state.counters["worst_ms"] = worst;
}
BENCHMARK(OutputLatency)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// 10 MB of ping-like lines as fast as the pipe takes them. The idle timer measures the longest stretch the event
// loop was busy; the memory counters show what a flood leaves behind.
void TenMegabyteFlood(benchmark::State& state) {
    WriteStandIn(R"(yes '64 bytes from 127.0.0.1: icmp_seq=1 ttl=64 time=0.035 ms' | head -c 10000000)");
    Page page;
    const long before = StatusKib("VmRSS");
    int run = 0;
    qint64 worst = 0;
    for (auto _ : state) {
        QElapsedTimer clock;
        clock.start();
        qint64 last = 0;
        page.Run(QStringLiteral("127.0.0.1"), [&] {
            const qint64 now = clock.nsecsElapsed();
            worst = std::max(worst, now - last);
            last = now;
        });
        ++run;
        state.counters["stall_worst_ms"] = static_cast<double>(worst) / 1e6;
        state.counters["box_chars"] = page.box->document()->characterCount();
        state.counters["rss_growth_MiB_run" + std::to_string(run)] = (StatusKib("VmRSS") - before) / 1024.0;
    }
    state.counters["rss_peak_MiB"] = StatusKib("VmHWM") / 1024.0;
}
BENCHMARK(TenMegabyteFlood)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    ConfigureApplication();
    std::string pattern = (std::filesystem::temp_directory_path() / "tolvar-pingbench-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        return 1;
    }
    standInDir = pattern;
    qputenv("PATH", QByteArray::fromStdString(standInDir) + ':' + qgetenv("PATH"));

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::filesystem::remove_all(standInDir);
    return 0;
}
