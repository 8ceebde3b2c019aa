// Loading and parsing ms.ini at start-up, with a list far longer than any administrator keeps.
#include "runtime/Files.h"
#include "servers/ServerList.h"
#include "settings/SettingsFile.h"
#include "settings/SharedSettings.h"

#include <benchmark/benchmark.h>
#include <string>

namespace {

std::vector<ServerEntry> ManyEntries(int count) {
    std::vector<ServerEntry> entries;
    for (int i = 0; i < count; ++i) {
        entries.push_back({"127.0.0." + std::to_string(i % 250 + 1), "3389", "Administrator",
                           "password" + std::to_string(i), "note for server " + std::to_string(i),
                           ServerStatus::Unknown});
    }
    return entries;
}

void LoadAndParse1000(benchmark::State& state) {
    if (!SaveSettings(ManyEntries(1000), ConnectionOptions{true, false}, "secret", "bench-ms.ini")) {
        state.SkipWithError("could not write the settings file");
        return;
    }
    for (auto _ : state) {
        const Bytes settings = LoadSettings("bench-ms.ini");
        ServerList servers;
        servers.AppendAll(ParseSettings(settings).servers);
        benchmark::DoNotOptimize(StartupPasswordOf(settings));
        benchmark::DoNotOptimize(servers.Count());
    }
}
BENCHMARK(LoadAndParse1000)->Unit(benchmark::kMicrosecond);

void Save1000(benchmark::State& state) {
    const std::vector<ServerEntry> entries = ManyEntries(1000);
    for (auto _ : state) {
        benchmark::DoNotOptimize(SaveSettings(entries, ConnectionOptions{}, "secret", "bench-ms.ini"));
    }
}
BENCHMARK(Save1000)->Unit(benchmark::kMicrosecond);

// Two windows over a list of 10,000: each has made a change or two since the base.
struct TwoSides {
    SettingsContent base;
    SettingsContent mine;
    SettingsContent theirs;
};

TwoSides TenThousandWithChanges() {
    TwoSides sides;
    sides.base.servers = ManyEntries(10000);
    sides.mine = sides.base;
    sides.mine.servers[5000].note = "edited here";
    sides.mine.servers.push_back({"127.0.0.9", "3390", "new", "", "", ServerStatus::Unknown});
    sides.theirs = sides.base;
    sides.theirs.servers.erase(sides.theirs.servers.begin() + 100);
    sides.theirs.servers.push_back({"127.0.0.8", "3391", "theirs", "", "", ServerStatus::Unknown});
    sides.theirs.options.forceLogin = true;
    return sides;
}

void Merge10000(benchmark::State& state) {
    const TwoSides sides = TenThousandWithChanges();
    for (auto _ : state) {
        benchmark::DoNotOptimize(MergeSettings(sides.base, sides.mine, sides.theirs));
    }
}
BENCHMARK(Merge10000)->Unit(benchmark::kMillisecond);

// One save as a window makes it while another wrote meanwhile: lock, read, decipher, merge, write.
void SharedSave10000(benchmark::State& state) {
    const TwoSides sides = TenThousandWithChanges();
    for (auto _ : state) {
        state.PauseTiming();
        if (!SaveSettings(sides.theirs.servers, sides.theirs.options, "", "bench-shared-ms.ini")) {
            state.SkipWithError("could not write the settings file");
            return;
        }
        SharedSettingsFile file("bench-shared-ms.ini", sides.base);
        state.ResumeTiming();
        benchmark::DoNotOptimize(file.Save(sides.mine, std::chrono::milliseconds(100)));
    }
}
BENCHMARK(SharedSave10000)->Unit(benchmark::kMillisecond);

} // namespace
