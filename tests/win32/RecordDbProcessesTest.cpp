#include "Win32TestSupport.h"
#include "bookmarks/BookmarkStore.h"
#include "bookmarks/recorddb/TableImage.h"
#include "runtime/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <set>

namespace {

// Two processes appending to one bookmark file at once keep each other's records: the engine's locks are the
// system's byte-range locks, which hold between processes.
TEST(Win32RecordDb, TwoProcessesAppendingKeepEveryRecordWithDistinctIds) {
    const TempDir dir;
    const std::string path = dir.Path() + "\\websc.edb";
    ASSERT_EQ(BookmarkStore(path).Load().size(), 1u); // the default file
    constexpr int kEach = 40;
    HANDLE children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = StartChild(BesideTest("tolvar_win32_child.exe"),
                                 {"append", path, i == 0 ? "first" : "second", std::to_string(kEach)});
        ASSERT_NE(children[i], nullptr);
    }
    for (const HANDLE child : children) {
        EXPECT_EQ(WaitForChild(child, std::chrono::seconds(120)), 0);
    }

    const std::vector<Bookmark> all = BookmarkStore(path).ReadAll();
    ASSERT_EQ(all.size(), 1u + 2 * kEach);
    std::set<std::string> names;
    for (const Bookmark& bookmark : all) {
        names.insert(bookmark.name);
    }
    EXPECT_EQ(names.size(), all.size());
    EXPECT_TRUE(names.count("first-0") && names.count("second-" + std::to_string(kEach - 1)));

    // Each record starts with its id, after the header and the two field descriptors.
    const Bytes file = ReadWholeFile(path);
    const TableImage layout = BookmarkTable();
    ASSERT_EQ(file.size(), static_cast<std::size_t>(layout.DataStart() + 1016 * (1 + 2 * kEach)));
    std::set<std::int32_t> ids;
    for (std::size_t i = 0; i < all.size(); ++i) {
        ids.insert(ReadI32(file, static_cast<std::size_t>(layout.DataStart()) + i * 1016));
    }
    EXPECT_EQ(ids.size(), all.size());
    EXPECT_EQ(ReadI32(file, 20), *ids.rbegin() + 1); // the next id follows the last one given
}

// An exclusive open, made with the system's share flags, keeps every other open out until it closes.
TEST(Win32RecordDb, ShareModesHoldBetweenOpens) {
    const TempDir dir;
    const std::string path = dir.Path() + "\\websc.edb";
    ASSERT_EQ(BookmarkStore(path).Load().size(), 1u);
    const HANDLE holder = StartChild(BesideTest("tolvar_win32_child.exe"), {"hold", path, "60000"});
    ASSERT_NE(holder, nullptr);
    const bool held = WaitUntilHeld(path, std::chrono::seconds(30));
    EXPECT_TRUE(held);
    EXPECT_TRUE(!held || BookmarkStore(path).ReadAll().empty());
    Release(path);
    EXPECT_EQ(WaitForChild(holder, std::chrono::seconds(30)), 0);
    EXPECT_EQ(BookmarkStore(path).ReadAll().size(), 1u);
}

} // namespace
