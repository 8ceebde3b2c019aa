// Loading and parsing ms.ini at start-up, with a list far longer than any administrator keeps.
#include "runtime/Files.h"
#include "servers/ServerList.h"
#include "settings/SettingsFile.h"

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

} // namespace
