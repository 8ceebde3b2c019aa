// The bookmark store at 10,000 bookmarks: reading them all as the list's load does (without its 100 ms wait),
// adding one, and deleting one near the start, the middle and the end, each with its check and pack.
#include "bookmarks/BookmarkStore.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

namespace {

constexpr int kBookmarks = 10000;

// Plain storage, so that the directory's name outlives every destructor that could still need it.
char scratchDirectory[64] = "/tmp/tolvar-bookmark-bench-XXXXXX";

void RemoveScratchDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(scratchDirectory, ignored);
}

Bookmark Numbered(int i) {
    return {Gbk::FromUtf8("网站") + std::to_string(i), "https://127.0.0.1/page/" + std::to_string(i)};
}

// The bookmark file with 10,000 bookmarks, built once through the store and kept as bytes.
const Bytes& FullImage() {
    static const Bytes image = [] {
        if (::mkdtemp(scratchDirectory) == nullptr) {
            std::abort();
        }
        std::atexit(RemoveScratchDirectory);
        const BookmarkStore store(std::string(scratchDirectory) + "/websc.edb");
        if (!ReplaceFileAtomically(store.Path(), DefaultBookmarkImage(), 0644)) {
            std::abort(); // nothing to measure without the file
        }
        if (store.Delete(0, store.ReadAll().at(0)) != BookmarkStore::DeleteResult::Deleted) {
            std::abort();
        }
        for (int i = 0; i < kBookmarks; ++i) {
            if (!store.Add(Numbered(i))) {
                std::abort();
            }
        }
        return ReadWholeFile(store.Path());
    }();
    return image;
}

// A store over a fresh copy of the full file.
BookmarkStore FullStore() {
    const Bytes& image = FullImage();
    const BookmarkStore store(std::string(scratchDirectory) + "/websc.edb");
    if (!ReplaceFileAtomically(store.Path(), image, 0644)) {
        std::abort();
    }
    return store;
}

void ReadTenThousand(benchmark::State& state) {
    const BookmarkStore store = FullStore();
    for (auto _ : state) {
        const std::vector<Bookmark> bookmarks = store.ReadAll();
        if (bookmarks.size() != kBookmarks) {
            state.SkipWithError("wrong count");
        }
    }
    state.SetItemsProcessed(state.iterations() * kBookmarks);
}
BENCHMARK(ReadTenThousand)->Unit(benchmark::kMillisecond);

void AddAtTenThousand(benchmark::State& state) {
    BookmarkStore store = FullStore();
    int added = 0;
    for (auto _ : state) {
        if (!store.Add(Numbered(kBookmarks))) {
            state.SkipWithError("add failed");
        }
        // Keep the file near 10,000 bookmarks however many rounds run.
        if (++added == 100) {
            state.PauseTiming();
            store = FullStore();
            added = 0;
            state.ResumeTiming();
        }
    }
}
BENCHMARK(AddAtTenThousand)->Unit(benchmark::kMicrosecond);

void DeleteAtTenThousand(benchmark::State& state) {
    const int index = static_cast<int>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        const BookmarkStore store = FullStore();
        state.ResumeTiming();
        if (store.Delete(index, Numbered(index)) != BookmarkStore::DeleteResult::Deleted) {
            state.SkipWithError("delete failed");
        }
    }
}
BENCHMARK(DeleteAtTenThousand)->Arg(0)->Arg(kBookmarks / 2)->Arg(kBookmarks - 1)->Unit(benchmark::kMillisecond);

} // namespace
