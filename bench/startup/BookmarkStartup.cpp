// Measures, under an X server, the program's start with 10,000 bookmarks and 1,000 servers against the same
// start in an empty directory: from starting the process to the main window's first paint, and to a complete
// bookmark list. Each run is a fresh process. Usage: BookmarkStartup [RUNS]
#include "StartupFiles.h"
#include "app/AppState.h"
#include "app/Application.h"
#include "app/StartUp.h"
#include "runtime/Files.h"

#include <QApplication>
#include <QTabWidget>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBookmarks = 10000;
constexpr int kServers = 1000;

double MillisecondsSince(long long startNs) {
    const long long now = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    return static_cast<double>(now - startNs) / 1e6;
}

// Records when the main window first starts to paint.
class FirstPaint : public QObject {
public:
    explicit FirstPaint(long long startNs)
        : startNs_(startNs) {}
    double at = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && at < 0) {
            at = MillisecondsSince(startNs_);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    long long startNs_;
};

// One program start in the current directory; prints "<first paint ms> <list complete ms>".
int Child(int argc, char** argv, long long startNs, int expectedRows) {
    QApplication application(argc, argv);
    ConfigureApplication();
    AppState state;
    FirstPaint firstPaint(startNs);
    // The filter must be in place before StartUp shows the window.
    application.installEventFilter(&firstPaint);
    const std::unique_ptr<MainWindow> window = StartUp(state);
    // The bookmark page's controls are made after the first paint, so its list is looked up once it is there.
    const auto* tabs = window->findChild<QTabWidget*>(QStringLiteral("高级选择夹1"));
    const auto list = [tabs] { return tabs->findChild<QTreeWidget*>(QStringLiteral("超级列表框1")); };
    double listComplete = -1;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &poll, [&] {
        const QTreeWidget* shown = listComplete < 0 ? list() : nullptr;
        if (shown != nullptr && shown->topLevelItemCount() >= expectedRows) {
            listComplete = MillisecondsSince(startNs);
        }
        if (listComplete >= 0 && firstPaint.at >= 0) {
            QApplication::quit();
        }
    });
    poll.start(1);
    QTimer::singleShot(20000, &application, &QApplication::quit);
    QApplication::exec();
    std::printf("%.1f %.1f\n", firstPaint.at, listComplete);
    return 0;
}

void WriteFullDirectory(const std::string& directory) {
    // Port 1 on loopback is closed: a probe, where there is one, is refused at once.
    if (!WriteStartupFiles(directory, kServers, kBookmarks, 1)) {
        std::abort(); // nothing to measure without the files
    }
}

struct Run {
    double paint;
    double list;
};

// Starts this program as a child in `directory` and reads its two figures.
bool StartOnce(const std::string& self, const std::string& directory, int expectedRows, Run& run) {
    int out[2];
    if (::pipe(out) != 0) {
        return false;
    }
    const long long startNs =
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count();
    const pid_t child = ::fork();
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::close(out[0]);
        if (::chdir(directory.c_str()) != 0) {
            ::_exit(127);
        }
        const std::string start = std::to_string(startNs);
        const std::string rows = std::to_string(expectedRows);
        ::execl(self.c_str(), self.c_str(), "--child", start.c_str(), rows.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    char buffer[128] = {};
    const ssize_t got = ::read(out[0], buffer, sizeof buffer - 1);
    ::close(out[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    return got > 0 && std::sscanf(buffer, "%lf %lf", &run.paint, &run.list) == 2 && run.paint >= 0 && run.list >= 0;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

} // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && std::string(argv[1]) == "--child") {
        return Child(1, argv, std::atoll(argv[2]), std::atoi(argv[3]));
    }
    const int runs = argc > 1 ? std::atoi(argv[1]) : 10;
    const std::string self = std::filesystem::canonical("/proc/self/exe").string();
    char scratch[] = "/tmp/tolvar-bookmark-startup-XXXXXX";
    if (::mkdtemp(scratch) == nullptr) {
        return 2;
    }
    const std::string full = std::string(scratch) + "/full";
    std::filesystem::create_directory(full);
    WriteFullDirectory(full);
    const Bytes fullBookmarks = ReadWholeFile(full + "/websc.edb");

    struct Scenario {
        const char* label;
        bool bookmarks;
        bool servers;
    };
    const Scenario scenarios[] = {{"empty directory:", false, false},
                                  {"10,000 bookmarks:", true, false},
                                  {"1,000 servers:", false, true},
                                  {"10,000 bookmarks, 1,000 servers:", true, true}};
    int failed = 0;
    for (const Scenario& scenario : scenarios) {
        std::vector<double> paints;
        std::vector<double> lists;
        for (int i = 0; i < runs; ++i) {
            const std::string directory = std::string(scratch) + "/run";
            std::filesystem::remove_all(directory);
            std::filesystem::create_directory(directory);
            if (scenario.servers) {
                std::filesystem::copy_file(full + "/ms.ini", directory + "/ms.ini");
            }
            if (scenario.bookmarks) {
                if (!ReplaceFileAtomically(directory + "/websc.edb", fullBookmarks, 0644)) {
                    std::abort(); // nothing to measure without the file
                }
            }
            Run run{};
            if (!StartOnce(self, directory, scenario.bookmarks ? kBookmarks : 1, run)) {
                std::fprintf(stderr, "run %d: no figures\n", i + 1);
                ++failed;
                continue;
            }
            paints.push_back(run.paint);
            lists.push_back(run.list);
        }
        if (!paints.empty()) {
            std::printf("%-34s first paint median %.1f ms, list complete median %.1f ms (%zu runs)\n", scenario.label,
                        Median(paints), Median(lists), paints.size());
        }
    }
    std::filesystem::remove_all(scratch);
    return failed == 0 ? 0 : 1;
}
