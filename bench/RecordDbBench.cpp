// The record database's hot paths: walking a bookmark table field by field (against the same reads done with
// plain pread), appending records, and packing a large table.
#include "bookmarks/DefaultBookmarkImage.h"
#include "bookmarks/recorddb/RecordDb.h"
#include "runtime/Gbk.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int kRecords = 10000;
constexpr std::size_t kDataStart = 260;
constexpr std::size_t kRecordSize = 1016;

// Plain storage, so that the directory's name outlives every destructor that could still need it.
char scratchDirectory[64] = "/tmp/tolvar-recorddb-bench-XXXXXX";

void RemoveScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchDirectory, ignored);
}

std::string ScratchDirectory() {
    static const bool made = [] {
        if (::mkdtemp(scratchDirectory) == nullptr) {
            std::abort();
        }
        std::atexit(RemoveScratchDirectory);
        return true;
    }();
    return made ? scratchDirectory : "";
}

const std::string kName = Gbk::FromUtf8("名称");
const std::string kAddress = Gbk::FromUtf8("网址");

// The bookmark table with `records` records, the first `deleted` of them marked.
std::string WriteTable(int records, int deleted = 0) {
    Bytes image = DefaultBookmarkImage();
    image.resize(kDataStart);
    for (int i = 0; i < records; ++i) {
        Bytes record(kRecordSize, 0);
        const std::int32_t id = (i < deleted ? -1 : 1) * (i + 1);
        std::memcpy(record.data(), &id, 4);
        const std::string name = Gbk::FromUtf8("网站") + std::to_string(i);
        const std::string address = "https://example.com/page/" + std::to_string(i);
        std::memcpy(record.data() + 4, name.data(), name.size());
        std::memcpy(record.data() + 504, address.data(), address.size());
        image.insert(image.end(), record.begin(), record.end());
    }
    const std::int32_t count = records;
    const std::int32_t next = records + 1;
    std::memcpy(image.data() + 16, &count, 4);
    std::memcpy(image.data() + 20, &next, 4);
    const std::string path = ScratchDirectory() + "/websc.edb";
    const int file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (file < 0 || ::write(file, image.data(), image.size()) != static_cast<ssize_t>(image.size())) {
        std::abort();
    }
    ::close(file);
    return path;
}

void WalkThroughEngine(benchmark::State& state) {
    const std::string path = WriteTable(kRecords);
    if (!RecordDb::Open(path)) {
        state.SkipWithError("open failed");
        return;
    }
    for (auto _ : state) {
        if (!RecordDb::GoTo(1)) {
            state.SkipWithError("no first record");
            break;
        }
        const int count = RecordDb::RecordCount();
        for (int i = 0; i < count; ++i) {
            benchmark::DoNotOptimize(RecordDb::ReadField(kName));
            benchmark::DoNotOptimize(RecordDb::ReadField(kAddress));
            RecordDb::Skip(1);
        }
    }
    RecordDb::CloseAll();
    state.SetItemsProcessed(state.iterations() * kRecords * 2);
}
BENCHMARK(WalkThroughEngine)->Unit(benchmark::kMillisecond);

void WalkWithPlainPread(benchmark::State& state) {
    const std::string path = WriteTable(kRecords);
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    char name[500];
    char address[512];
    for (auto _ : state) {
        for (std::size_t i = 0; i < kRecords; ++i) {
            const auto record = static_cast<off_t>(kDataStart + i * kRecordSize);
            benchmark::DoNotOptimize(::pread(file, name, sizeof name, record + 4));
            benchmark::DoNotOptimize(::pread(file, address, sizeof address, record + 504));
            benchmark::ClobberMemory();
        }
    }
    ::close(file);
    state.SetItemsProcessed(state.iterations() * kRecords * 2);
}
BENCHMARK(WalkWithPlainPread)->Unit(benchmark::kMillisecond);

// The floor under the engine's walk: the same reads, each between taking and releasing its record lock.
void WalkWithPreadUnderLocks(benchmark::State& state) {
    const std::string path = WriteTable(kRecords);
    const int file = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    char name[500];
    char address[512];
    auto lock = [&](off_t offset, short type) {
        struct flock range {};
        range.l_type = type;
        range.l_whence = SEEK_SET;
        range.l_start = offset;
        range.l_len = 1;
        ::fcntl(file, F_OFD_SETLK, &range);
    };
    for (auto _ : state) {
        for (std::size_t i = 0; i < kRecords; ++i) {
            const auto record = static_cast<off_t>(kDataStart + i * kRecordSize);
            lock(record, F_WRLCK);
            benchmark::DoNotOptimize(::pread(file, name, sizeof name, record + 4));
            lock(record, F_UNLCK);
            lock(record, F_WRLCK);
            benchmark::DoNotOptimize(::pread(file, address, sizeof address, record + 504));
            lock(record, F_UNLCK);
            benchmark::ClobberMemory();
        }
    }
    ::close(file);
    state.SetItemsProcessed(state.iterations() * kRecords * 2);
}
BENCHMARK(WalkWithPreadUnderLocks)->Unit(benchmark::kMillisecond);

void AppendAndWrite(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = WriteTable(0);
        state.ResumeTiming();
        bool stored = RecordDb::Open(path);
        for (int i = 0; stored && i < kRecords; ++i) {
            stored = RecordDb::AppendBlank() && RecordDb::WriteField(kName, Gbk::FromUtf8("百度")) &&
                     RecordDb::WriteField(kAddress, std::string("https://www.baidu.com/"));
        }
        RecordDb::CloseAll();
        if (!stored) {
            state.SkipWithError("append failed");
            break;
        }
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(AppendAndWrite)->Unit(benchmark::kMillisecond);

void PackFirstDeleted(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const std::string path = WriteTable(kRecords, 1);
        if (!RecordDb::Open(path)) {
            state.SkipWithError("open failed");
            break;
        }
        state.ResumeTiming();
        if (!RecordDb::Pack()) {
            state.SkipWithError("pack failed");
        }
        state.PauseTiming();
        RecordDb::CloseAll();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kRecords);
}
BENCHMARK(PackFirstDeleted)->Unit(benchmark::kMillisecond);

} // namespace
