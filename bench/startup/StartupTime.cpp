// Measures, as a user sees it, the time from starting a program to its first window on the X display: mapped,
// or with --drawn, showing text in a rectangle of that window (dark strokes on a light ground, read back from
// the display). With --reference, a second program is started alternately with the first, so both medians come
// from the same run on the same machine, and their ratio is printed. The processor time the program had used
// by then (all its threads) is printed too: on a busy machine it varies far less than the elapsed time.
// Usage: StartupTime [--drawn X,Y,W,H] [--reference PROGRAM] PROGRAM [RUNS]
#include "XcbWatch.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <optional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Processor time used so far by every thread of `pid`, in milliseconds.
double ProcessorMillis(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    DIR* dir = opendir(tasks.c_str());
    if (dir == nullptr) {
        return 0;
    }
    double nanos = 0;
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.') {
            continue;
        }
        std::ifstream schedstat(tasks + "/" + entry->d_name + "/schedstat");
        double running = 0;
        if (schedstat >> running) {
            nanos += running;
        }
    }
    closedir(dir);
    return nanos / 1e6;
}

struct Figures {
    double elapsed;
    double processor;
};

// One start of `program`: its figures at the awaited state, or nullopt when that did not come in 10 s.
std::optional<Figures> StartOnce(xcb_connection_t* connection, const char* program,
                                 const std::optional<XcbRegion>& drawn) {
    const Clock::time_point start = Clock::now();
    const Clock::time_point deadline = start + std::chrono::seconds(10);
    const pid_t child = fork();
    if (child == 0) {
        execl(program, program, static_cast<char*>(nullptr));
        _exit(127);
    }
    const xcb_window_t window = WaitForMappedWindow(connection, deadline);
    const bool shown = window != 0 && (!drawn || WaitUntilDrawn(connection, window, *drawn, deadline));
    const double elapsed = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    const double processor = ProcessorMillis(child);
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    if (!shown) {
        return std::nullopt;
    }
    return Figures{elapsed, processor};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

int Usage(const char* self) {
    std::fprintf(stderr, "usage: %s [--drawn X,Y,W,H] [--reference PROGRAM] PROGRAM [RUNS]\n", self);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    std::optional<XcbRegion> drawn;
    const char* reference = nullptr;
    int arg = 1;
    for (; arg + 1 < argc && std::strncmp(argv[arg], "--", 2) == 0; arg += 2) {
        if (std::strcmp(argv[arg], "--drawn") == 0) {
            int x = 0, y = 0, w = 0, h = 0;
            if (std::sscanf(argv[arg + 1], "%d,%d,%d,%d", &x, &y, &w, &h) != 4 || w <= 0 || h <= 0) {
                return Usage(argv[0]);
            }
            drawn = XcbRegion{static_cast<int16_t>(x), static_cast<int16_t>(y), static_cast<uint16_t>(w),
                              static_cast<uint16_t>(h)};
        } else if (std::strcmp(argv[arg], "--reference") == 0) {
            reference = argv[arg + 1];
        } else {
            return Usage(argv[0]);
        }
    }
    if (arg >= argc) {
        return Usage(argv[0]);
    }
    const char* program = argv[arg];
    const int runs = arg + 1 < argc ? std::atoi(argv[arg + 1]) : 10;
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(connection)) {
        std::fprintf(stderr, "no X display\n");
        return 2;
    }
    WatchTopLevelWindows(connection);

    const char* awaited = drawn ? "text drawn" : "window shown";
    std::vector<double> millis;
    std::vector<double> processor;
    std::vector<double> referenceMillis;
    std::vector<double> referenceProcessor;
    for (int run = 0; run < runs; ++run) {
        if (reference != nullptr) {
            const std::optional<Figures> bare = StartOnce(connection, reference, drawn);
            if (!bare) {
                std::fprintf(stderr, "run %d: no %s from the reference within 10 s\n", run + 1, awaited);
                return 1;
            }
            referenceMillis.push_back(bare->elapsed);
            referenceProcessor.push_back(bare->processor);
        }
        const std::optional<Figures> figures = StartOnce(connection, program, drawn);
        if (!figures) {
            std::fprintf(stderr, "run %d: no %s within 10 s\n", run + 1, awaited);
            return 1;
        }
        millis.push_back(figures->elapsed);
        processor.push_back(figures->processor);
        if (reference != nullptr) {
            std::printf("run %2d: %.1f ms (processor %.1f ms), reference %.1f ms (processor %.1f ms)\n", run + 1,
                        figures->elapsed, figures->processor, referenceMillis.back(), referenceProcessor.back());
        } else {
            std::printf("run %2d: %.1f ms (processor %.1f ms)\n", run + 1, figures->elapsed, figures->processor);
        }
    }
    const double median = Median(millis);
    std::printf("start to %s: median %.1f ms over %zu runs (min %.1f, max %.1f), processor time median %.1f ms\n",
                awaited, median, millis.size(), *std::min_element(millis.begin(), millis.end()),
                *std::max_element(millis.begin(), millis.end()), Median(processor));
    if (reference != nullptr) {
        const double bare = Median(referenceMillis);
        std::printf("reference, start to %s: median %.1f ms, processor time median %.1f ms\n", awaited, bare,
                    Median(referenceProcessor));
        std::printf("ratio to the reference: %.2f (processor time %.2f)\n", median / bare,
                    Median(processor) / Median(referenceProcessor));
    }
    xcb_disconnect(connection);
    return 0;
}
