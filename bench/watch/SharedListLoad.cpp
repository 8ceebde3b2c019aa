// A window over a list of 10,000 servers while another process saves the same ms.ini ten times a second, each
// time adding or deleting one entry, as a second window busy with the list would.
//
// Usage: SharedListLoad [entries] [seconds]
// Reports the longest stalls of the window's thread, measured by a 2 ms timer, and how many of the other's saves
// the window showed. The probe is off: only the shared file is measured.
#include "app/Application.h"
#include "app/SettingsSync.h"
#include "servers/ServerPage.h"
#include "settings/SettingsFile.h"
#include "settings/SharedSettings.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::vector<ServerEntry> ManyEntries(int count) {
    std::vector<ServerEntry> entries;
    entries.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        entries.push_back({"127.0." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1), "3389",
                           "Administrator", "password" + std::to_string(i), "note for server " + std::to_string(i),
                           ServerStatus::Unknown});
    }
    return entries;
}

// The other window: saves through the same lock and merge, ten times a second, until killed.
[[noreturn]] void OtherWindow(const std::string& path, int entries) {
    SettingsContent mine{ManyEntries(entries), {}, ""};
    SharedSettingsFile file(path, mine);
    for (int round = 0;; ++round) {
        if (round % 2 == 0) {
            mine.servers.push_back(
                {"127.1.0.1", std::to_string(10000 + round), "other", "", "", ServerStatus::Unknown});
        } else {
            mine.servers.pop_back();
        }
        const SharedSettingsFile::Saved saved = file.Save(mine, 1s);
        if (saved.outcome && !saved.refused) {
            mine = saved.merged.content;
        }
        std::this_thread::sleep_for(100ms);
    }
}

} // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 10000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 60;
    char folder[] = "/tmp/tolvar-shared-XXXXXX";
    if (::mkdtemp(folder) == nullptr) {
        return 1;
    }
    const std::string path = std::string(folder) + "/ms.ini";
    if (!SaveSettings(ManyEntries(entries), {}, "", path)) {
        return 1;
    }

    QApplication app(argc, argv);
    ConfigureApplication();
    ServerList servers;
    std::string password;
    const FileStamp loaded = StampOf(path);
    ServerPage page(servers, LoadSettings(path), password, nullptr, {.startThread = [](auto, auto) { return false; }});
    new SettingsSync(path, &page, loaded);
    page.show();

    const pid_t other = ::fork();
    if (other == 0) {
        OtherWindow(path, entries);
    }

    // Each gap between two ticks, with the processor time the window's thread spent in it: a long gap with
    // little processor time is the machine's other work, not the window's.
    std::vector<qint64> gaps;
    std::vector<std::pair<qint64, double>> stalls;
    QElapsedTimer sinceTick;
    sinceTick.start();
    const auto threadTime = [] {
        timespec now{};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
    };
    double lastCpu = threadTime();
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &app, [&] {
        const qint64 gap = sinceTick.restart();
        const double cpu = threadTime();
        gaps.push_back(gap);
        if (gap > 20) {
            stalls.emplace_back(gap, cpu - lastCpu);
        }
        lastCpu = cpu;
    });
    // The list's first paint and the rows that follow it belong to the start, not to the sharing.
    QTimer::singleShot(1s, &app, [&] {
        sinceTick.restart();
        lastCpu = threadTime();
        tick.start(2);
    });
    std::size_t lastCount = servers.Count();
    int shown = 0;
    QTimer count;
    QObject::connect(&count, &QTimer::timeout, &app, [&] {
        if (servers.Count() != lastCount) {
            lastCount = servers.Count();
            ++shown;
        }
    });
    count.start(50);
    QTimer::singleShot(std::chrono::seconds(seconds), &app, &QApplication::quit);
    app.exec();
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);

    std::sort(gaps.begin(), gaps.end());
    const auto at = [&](double share) {
        return gaps.empty() ? 0 : gaps[static_cast<std::size_t>(share * static_cast<double>(gaps.size() - 1))];
    };
    std::printf("shared list: %d entries, the other process saving 10 times a second for %d s\n", entries, seconds);
    std::printf("  window thread: longest stall %lld ms, 99.9th percentile %lld ms, median %lld ms (2 ms timer)\n",
                static_cast<long long>(at(1.0)), static_cast<long long>(at(0.999)), static_cast<long long>(at(0.5)));
    std::printf("  stalls over 20 ms: %zu;", stalls.size());
    for (const auto& [gap, cpu] : stalls) {
        std::printf(" %lld ms (%.1f ms processor)", static_cast<long long>(gap), cpu);
    }
    std::printf("\n");
    std::printf("  the other's changes shown: %d (the list's count changed at a 50 ms look)\n", shown);
    std::printf("  entries at the end: %zu\n", servers.Count());
    std::filesystem::remove_all(folder);
    return 0;
}
