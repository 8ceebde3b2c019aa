// The probe pass of a long server list on 127.0.0.1: half the entries listen, half are closed ports. Measures
// how long after the page is created the last row shows its result, the longest the GUI thread went without
// turning its event loop, and the memory high-water mark of the pass.
#include "servers/ServerPage.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fstream>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int kEntries = 1000;

// A loopback socket on an ephemeral port, listening or only bound (so connections are refused).
struct Peer {
    int fd = -1;
    std::uint16_t port = 0;

    explicit Peer(bool listening) {
        fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        if (listening) {
            ::listen(fd, 64);
        }
    }
    ~Peer() { ::close(fd); }
    Peer(const Peer&) = delete;
    Peer& operator=(const Peer&) = delete;
};

long HighWaterKiB() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with("VmHWM:")) {
            return std::stol(line.substr(6));
        }
    }
    return 0;
}

void ResetHighWater() {
    std::ofstream("/proc/self/clear_refs") << "5";
}

void ProbePass1000(benchmark::State& state) {
    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);

    std::vector<std::unique_ptr<Peer>> peers;
    std::string text;
    for (int i = 0; i < kEntries; ++i) {
        peers.push_back(std::make_unique<Peer>(i % 2 == 0));
        text += "127.0.0.1|" + std::to_string(peers.back()->port) + "|Administrator|pw|note\r\n";
    }
    const Bytes settings = BytesFromText(text);
    std::string password;
    std::vector<double> gaps;
    std::vector<double> creates;
    std::vector<double> finals;
    long peakKiB = 0;
    long baseKiB = 0;

    for (auto _ : state) {
        // Let the previous pass's connections drain out of the listeners' queues.
        for (int i = 0; i < 5; ++i) {
            QApplication::processEvents();
        }
        ResetHighWater();
        baseKiB = HighWaterKiB();
        ServerList servers;
        QElapsedTimer clock;
        clock.start();
        ServerPage page(servers, settings, password);
        const double createMs = clock.nsecsElapsed() / 1e6;
        // The pass starts once the list has been drawn.
        page.show();
        auto* list = page.findChild<QTreeWidget*>(QStringLiteral("超级列表框1"));

        double gapMs = 0;
        qint64 last = clock.nsecsElapsed();
        QTimer tick;
        tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
            const qint64 now = clock.nsecsElapsed();
            gapMs = std::max(gapMs, (now - last) / 1e6);
            last = now;
        });
        tick.start(1);
        const QString unknown = QStringLiteral("...");
        const auto finished = [&] {
            for (int r = 0; r < list->topLevelItemCount(); ++r) {
                if (list->topLevelItem(r)->text(3) == unknown) {
                    return false;
                }
            }
            return true;
        };
        while (!finished() && clock.elapsed() < 30000) {
            QApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
        }
        const double finalMs = clock.nsecsElapsed() / 1e6;
        state.SetIterationTime(finalMs / 1000);
        gaps.push_back(gapMs);
        creates.push_back(createMs);
        finals.push_back(finalMs);
        peakKiB = std::max(peakKiB, HighWaterKiB() - baseKiB);
    }
    // Median and worst over the passes: one slow pass on a busy machine says little on its own.
    for (auto& [name, values] : {std::pair<std::string, std::vector<double>&>{"last_row_ms", finals},
                                 {"page_create_ms", creates},
                                 {"longest_gap_ms", gaps}}) {
        std::sort(values.begin(), values.end());
        state.counters[name + "_median"] = values[values.size() / 2];
        state.counters[name + "_worst"] = values.back();
    }
    state.counters["pass_peak_KiB"] = static_cast<double>(peakKiB);
}
BENCHMARK(ProbePass1000)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);

// The page's own share of its creation: loading and showing 1,000 entries with no worker started.
void CreatePageWithoutProbes1000(benchmark::State& state) {
    std::string text;
    for (int i = 0; i < kEntries; ++i) {
        text += "127.0.0.1|" + std::to_string(i + 1) + "|Administrator|pw|note\r\n";
    }
    const Bytes settings = BytesFromText(text);
    std::string password;
    ProbeSettings probe;
    probe.startThread = [](std::function<void()>, std::size_t) { return false; };
    for (auto _ : state) {
        ServerList servers;
        ServerPage page(servers, settings, password, nullptr, probe);
        benchmark::DoNotOptimize(servers.Count());
    }
}
BENCHMARK(CreatePageWithoutProbes1000)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
