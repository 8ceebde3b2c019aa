// The watch over a long server list on loopback, run for a while with the interval scaled down so that the
// same number of passes fits: by default 1,000 entries for 120 s at a 12 s interval, the ten passes of ten
// minutes at 60 s. The cost of a pass does not depend on the interval, only the idle time between passes does.
//
// Usage: WatchLoad [entries] [seconds] [interval ms] [quiet]
// With "quiet" the GUI thread's stalls are not measured: the 2 ms timer that measures them wakes the thread 500
// times a second, which costs more processor time over a long run than the watch itself.
//
// The peers live in a child process, so the figures are the program's alone: about half the entries listen
// (and have their connections accepted and closed), half are refused, 2 % never answer (their handshakes are
// dropped, so each probe waits for the whole connection bound) and 1 % go down and come back every 30 s.
// Reports the CPU time, the peak number of threads, the memory and the longest stall of the GUI thread.
#include "app/Application.h"
#include "runtime/DetachedThread.h"
#include "servers/ServerPage.h"
#include "settings/SettingsFile.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kListeningPorts = 16;
constexpr int kRefusingPorts = 16;
constexpr auto kFlapPeriod = 30s;

sockaddr_in Loopback(std::uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A stream socket bound to loopback `port` (0: any), listening with `backlog` unless it is negative.
int Bound(std::uint16_t& port, int backlog) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address = Loopback(port);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        (backlog >= 0 && ::listen(fd, backlog) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        std::perror("peer");
        std::_Exit(2);
    }
    port = ntohs(address.sin_port);
    return fd;
}

struct Ports {
    std::vector<std::uint16_t> listening;
    std::vector<std::uint16_t> refusing;
    std::uint16_t silent = 0;
    std::uint16_t flapping = 0;
};

// The peers' process: sets up the ports, writes them to `out`, then accepts and closes every connection and
// takes the flapping port down and up until `control` is closed.
[[noreturn]] void RunPeers(int out, int control) {
    Ports ports;
    std::vector<int> listeners;
    for (int i = 0; i < kListeningPorts; ++i) {
        listeners.push_back(Bound(ports.listening.emplace_back(), 4096));
        ::fcntl(listeners.back(), F_SETFL, O_NONBLOCK);
    }
    std::vector<int> refusing;
    for (int i = 0; i < kRefusingPorts; ++i) {
        refusing.push_back(Bound(ports.refusing.emplace_back(), -1));
    }
    // A full one-place accept queue: further handshakes are dropped.
    Bound(ports.silent, 0);
    for (int i = 0; i < 2; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        const sockaddr_in address = Loopback(ports.silent);
        ::connect(filler, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    }
    int flapping = Bound(ports.flapping, 4096);
    ::fcntl(flapping, F_SETFL, O_NONBLOCK);

    std::string text;
    for (const std::uint16_t port : ports.listening) {
        text += std::to_string(port) + ' ';
    }
    text += ';';
    for (const std::uint16_t port : ports.refusing) {
        text += std::to_string(port) + ' ';
    }
    text += ';' + std::to_string(ports.silent) + ';' + std::to_string(ports.flapping) + '\n';
    if (::write(out, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        std::_Exit(2);
    }
    ::close(out);

    Clock::time_point flip = Clock::now() + kFlapPeriod;
    for (;;) {
        std::vector<pollfd> waiting{{control, POLLIN, 0}};
        for (const int fd : listeners) {
            waiting.push_back({fd, POLLIN, 0});
        }
        if (flapping >= 0) {
            waiting.push_back({flapping, POLLIN, 0});
        }
        ::poll(waiting.data(), waiting.size(), 200);
        if (waiting[0].revents != 0) {
            std::_Exit(0);
        }
        for (std::size_t i = 1; i < waiting.size(); ++i) {
            if ((waiting[i].revents & POLLIN) != 0) {
                for (int client; (client = ::accept4(waiting[i].fd, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;) {
                    ::close(client);
                }
            }
        }
        if (Clock::now() >= flip) {
            flip += kFlapPeriod;
            if (flapping >= 0) {
                ::close(flapping);
                flapping = -1;
            } else {
                flapping = Bound(ports.flapping, 4096);
                ::fcntl(flapping, F_SETFL, O_NONBLOCK);
            }
        }
    }
}

std::vector<std::uint16_t> ParsePorts(const std::string& text) {
    std::vector<std::uint16_t> ports;
    std::size_t at = 0;
    while (at < text.size()) {
        std::size_t end = text.find(' ', at);
        end = end == std::string::npos ? text.size() : end;
        if (end > at) {
            ports.push_back(static_cast<std::uint16_t>(std::stoi(text.substr(at, end - at))));
        }
        at = end + 1;
    }
    return ports;
}

long StatusField(const std::string& field) {
    std::ifstream in("/proc/self/status");
    for (std::string line; std::getline(in, line);) {
        if (line.rfind(field + ":", 0) == 0) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return 0;
}

double ThreadCpuMs() {
    timespec now{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Seconds(const timeval& time) {
    return static_cast<double>(time.tv_sec) + static_cast<double>(time.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    const int entries = argc > 1 ? std::atoi(argv[1]) : 1000;
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 120;
    const int intervalMs = argc > 3 ? std::atoi(argv[3]) : 12000;
    const bool measureStalls = argc <= 4 || std::string(argv[4]) != "quiet";

    rlimit files{};
    ::getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
    int portsPipe[2];
    int controlPipe[2];
    if (::pipe(portsPipe) != 0 || ::pipe(controlPipe) != 0) {
        return 2;
    }
    const pid_t peers = ::fork();
    if (peers == 0) {
        ::close(portsPipe[0]);
        ::close(controlPipe[1]);
        RunPeers(portsPipe[1], controlPipe[0]);
    }
    ::close(portsPipe[1]);
    ::close(controlPipe[0]);
    std::string line;
    for (char c; ::read(portsPipe[0], &c, 1) == 1 && c != '\n';) {
        line += c;
    }
    const std::size_t first = line.find(';');
    const std::size_t second = line.find(';', first + 1);
    const std::size_t third = line.find(';', second + 1);
    const std::vector<std::uint16_t> listening = ParsePorts(line.substr(0, first));
    const std::vector<std::uint16_t> refusing = ParsePorts(line.substr(first + 1, second - first - 1));
    const int silent = std::stoi(line.substr(second + 1, third - second - 1));
    const int flapping = std::stoi(line.substr(third + 1));

    const int silentCount = entries / 50;
    const int flappingCount = entries / 100;
    std::string text;
    int listeningCount = 0;
    for (int i = 0; i < entries; ++i) {
        int port = 0;
        // Mixed through the list, so that the rows on screen show every kind from the first pass on.
        if (i % 50 == 0) {
            port = silent;
        } else if (i % 100 == 1) {
            port = flapping;
        } else if (i % 2 == 0) {
            port = listening[static_cast<std::size_t>(i) % listening.size()];
            ++listeningCount;
        } else {
            port = refusing[static_cast<std::size_t>(i) % refusing.size()];
        }
        text += "127.0.0.1|" + std::to_string(port) + "|Administrator|pw|note " + std::to_string(i) + "\r\n";
    }

    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication application(argc, argv);
    ConfigureApplication();

    // Every worker is counted while it runs.
    std::atomic<int> live = 0;
    std::atomic<int> mostLive = 0;
    std::atomic<long> workers = 0;
    ProbeSettings probe;
    probe.startThread = [&](std::function<void()> body, std::size_t stackSize) {
        return StartDetachedThread(
            [&, body = std::move(body)] {
                ++workers;
                const int now = ++live;
                for (int most = mostLive; now > most && !mostLive.compare_exchange_weak(most, now);) {
                }
                body();
                --live;
            },
            stackSize);
    };

    // The whole process's threads, sampled every 20 ms from a thread whose own CPU time is left out; the probe
    // workers are counted exactly above.
    std::atomic<bool> sampling = true;
    std::atomic<long> mostThreads = 0;
    double samplerCpu = 0;
    const long baseThreads = StatusField("Threads");
    std::thread sampler([&] {
        while (sampling) {
            const long threads = StatusField("Threads") - 1;
            mostThreads = std::max(mostThreads.load(), threads);
            std::this_thread::sleep_for(20ms);
        }
        rusage own{};
        ::getrusage(RUSAGE_THREAD, &own);
        samplerCpu = Seconds(own.ru_utime) + Seconds(own.ru_stime);
    });

    const long startRss = StatusField("VmRSS");
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    ServerList servers;
    const Bytes settings = BytesFromText(text);
    std::string password;
    auto page = std::make_unique<ServerPage>(servers, settings, password, nullptr, probe,
                                             std::chrono::milliseconds{intervalMs});
    page->show();
    int notices = 0;
    QObject::connect(page.get(), &ServerPage::ServerNoticed, page.get(), [&notices] { ++notices; });

    // A 2 ms timer on the GUI thread: the longest gap between its ticks, less its period, is the longest stall.
    // On a machine shared with other work a gap may also be time the thread waited for a processor, so the
    // thread's own processor time between two ticks is measured too: that part is the program's.
    QElapsedTimer clock;
    clock.start();
    qint64 last = clock.nsecsElapsed();
    double lastCpu = ThreadCpuMs();
    // The first second holds the first paint of a thousand rows along with the first pass; it is kept apart.
    constexpr qint64 kFirstSecond = 1'000'000'000;
    double stallMs[2] = {0, 0};
    double stallCpuMs[2] = {0, 0};
    double busyMs[2] = {0, 0};
    struct Stall {
        double at, wallMs, cpuMs;
    };
    std::vector<Stall> longStalls;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, &tick, [&] {
        const qint64 now = clock.nsecsElapsed();
        const double cpu = ThreadCpuMs();
        const double gap = static_cast<double>(now - last) / 1e6 - 2.0;
        const int part = now < kFirstSecond ? 0 : 1;
        if (gap > stallMs[part]) {
            stallMs[part] = gap;
            stallCpuMs[part] = cpu - lastCpu;
        }
        busyMs[part] = std::max(busyMs[part], cpu - lastCpu);
        if (gap > 20 && longStalls.size() < 20) {
            longStalls.push_back({static_cast<double>(now) / 1e9, gap, cpu - lastCpu});
        }
        last = now;
        lastCpu = cpu;
    });
    if (measureStalls) {
        tick.start(2);
    }
    QTimer::singleShot(std::chrono::seconds{seconds}, &application, &QCoreApplication::quit);
    QApplication::exec();
    tick.stop();
    const auto [online, offline] = page->StatusCounts();

    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const long endRss = StatusField("VmRSS");
    sampling = false;
    sampler.join();
    const double user = Seconds(after.ru_utime) - Seconds(before.ru_utime);
    const double system = Seconds(after.ru_stime) - Seconds(before.ru_stime);
    const double passes = static_cast<double>(seconds) * 1000.0 / intervalMs + 1;

    std::printf("entries: %d (%d listening, %d refused, %d never answering, %d down and up every %lld s)\n", entries,
                listeningCount, entries - listeningCount - silentCount - flappingCount, silentCount, flappingCount,
                static_cast<long long>(kFlapPeriod.count()));
    std::printf("period: %d s at an interval of %d ms: %.0f passes, the first included\n", seconds, intervalMs, passes);
    std::printf("CPU: %.3f s user + %.3f s system = %.3f s (%.1f ms a pass; the sampler's %.3f s left out)\n", user,
                system, user + system - samplerCpu, (user + system - samplerCpu) * 1000 / passes, samplerCpu);
    std::printf("probe workers: %ld started, at most %d at once\n", workers.load(), mostLive.load());
    std::printf("threads of the process (sampled every 20 ms): %ld before the page, at most %ld\n", baseThreads,
                mostThreads.load());
    std::printf("memory: resident %ld KiB before the page, %ld KiB at the end, peak %ld KiB\n", startRss, endRss,
                StatusField("VmHWM"));
    for (const int part : {0, 1}) {
        if (!measureStalls) {
            break;
        }
        std::printf("longest GUI-thread stall %s: %.1f ms, %.1f ms of it on a processor; most processor time between "
                    "two ticks: %.1f ms\n",
                    part == 0 ? "in the first second (first paint and pass)" : "after it", stallMs[part],
                    stallCpuMs[part], busyMs[part]);
    }
    for (const Stall& stall : longStalls) {
        std::printf("  stall over 20 ms at %.3f s: %.1f ms, %.1f ms of it on a processor\n", stall.at, stall.wallMs,
                    stall.cpuMs);
    }
    std::printf("rows at the end: %d online, %d offline; notices raised: %d\n", online, offline, notices);

    ::close(controlPipe[1]);
    ::waitpid(peers, nullptr, 0);
    page.reset();
    // Workers still waiting on the silent port are not waited for, as in the program.
    std::fflush(stdout);
    std::_Exit(0);
}
