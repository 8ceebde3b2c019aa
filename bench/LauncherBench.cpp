// A click on "连接" up to the client process running: file written and flushed under a fresh random name,
// registry value looked up, client started with the password on its input. The client is a stand-in that
// ends at once, and is reaped outside the measurement.
#include "servers/RemoteDesktopLauncher.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

// Temporary, data and config directories of their own, and the stand-in client first on PATH.
class Scratch {
public:
    Scratch() {
        std::string pattern = (std::filesystem::temp_directory_path() / "tolvar-bench-XXXXXX").string();
        root_ = ::mkdtemp(pattern.data());
        for (const char* sub : {"tmp", "data", "config", "bin", "run"}) {
            std::filesystem::create_directory(root_ / sub);
        }
        ::chmod((root_ / "run").c_str(), 0700);
        const auto client = root_ / "bin" / "xfreerdp";
        std::ofstream(client) << "#!/bin/sh\nexit 0\n";
        ::chmod(client.c_str(), 0755);
        ::setenv("TMPDIR", (root_ / "tmp").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_ / "data").c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (root_ / "run").c_str(), 1);
        ::setenv("PATH", ((root_ / "bin").string() + ":/usr/bin:/bin").c_str(), 1);
    }
    ~Scratch() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

private:
    std::filesystem::path root_;
};

ServerEntry Entry(const std::string& host) {
    return {host, "3389", "Administrator", "a password", "", ServerStatus::Unknown};
}

// Launches and reaps the client, timing only the launch.
void Launch(benchmark::State& state, const ServerEntry& entry) {
    LaunchResult result = LaunchRemoteDesktop(entry, {}, false);
    state.PauseTiming();
    if (result.process) {
        ::waitpid(result.process->pid, nullptr, 0);
    }
    state.ResumeTiming();
}

// One set of directories for the whole run; the first connect makes them, outside any measurement.
void Prepare() {
    static Scratch scratch;
    static const bool ready = [] {
        LaunchResult result = LaunchRemoteDesktop(Entry("127.0.0.1"), {}, false);
        if (result.process) {
            ::waitpid(result.process->pid, nullptr, 0);
        }
        return result.outcome == LaunchOutcome::Started;
    }();
    if (!ready) {
        std::abort();
    }
}

// Each repetition is one launch, so the median is that of single clicks.
void ConnectKnownHost(benchmark::State& state) {
    Prepare();
    const ServerEntry entry = Entry("127.0.0.1");
    for (auto _ : state) {
        Launch(state, entry);
    }
}
BENCHMARK(ConnectKnownHost)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(200)->ReportAggregatesOnly(true);

// The first connect to a host also writes the registry store.
void ConnectNewHost(benchmark::State& state) {
    Prepare();
    static int host = 0;
    for (auto _ : state) {
        Launch(state, Entry("host" + std::to_string(++host)));
    }
}
BENCHMARK(ConnectNewHost)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(200)->ReportAggregatesOnly(true);

} // namespace
