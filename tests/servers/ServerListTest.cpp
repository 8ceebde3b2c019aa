#include "servers/ServerList.h"

#include <atomic>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <thread>

namespace {

ServerEntry Entry(const std::string& host, ServerStatus status = ServerStatus::Unknown) {
    return {host, "3389", "Administrator", "", "", status};
}

std::vector<std::string> Hosts(const ServerList& list) {
    std::vector<std::string> hosts;
    for (const ServerEntry& entry : list.Entries()) {
        hosts.push_back(entry.host);
    }
    return hosts;
}

TEST(ServerListTest, NumbersFollowTheOrderAndCloseUpAfterADelete) {
    ServerList list;
    list.AppendAll({Entry("a"), Entry("b")});
    list.Append(Entry("c"));
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.EntryAt(1)->host, "a");
    EXPECT_EQ(list.EntryAt(3)->host, "c");
    EXPECT_FALSE(list.EntryAt(0));
    EXPECT_FALSE(list.EntryAt(4));

    EXPECT_TRUE(list.Remove(2));
    EXPECT_EQ(Hosts(list), (std::vector<std::string>{"a", "c"}));
    EXPECT_EQ(list.EntryAt(2)->host, "c");
    EXPECT_FALSE(list.Remove(3));
    EXPECT_FALSE(list.Remove(0));
    EXPECT_EQ(list.Count(), 2u);
}

TEST(ServerListTest, ReplaceChangesTheTextsAndKeepsStatusAndIdentity) {
    ServerList list;
    list.Append(Entry("a"));
    const ServerList::Id id = list.Append(Entry("b"));
    ASSERT_TRUE(list.SetStatus(id, ServerStatus::Online));

    ASSERT_TRUE(list.Replace(2, {"host", "22", "root", "pw", "note", ServerStatus::Offline}));
    EXPECT_EQ(*list.EntryAt(2), (ServerEntry{"host", "22", "root", "pw", "note", ServerStatus::Online}));
    EXPECT_EQ(list.Rows()[1].id, id);
    EXPECT_FALSE(list.Replace(3, Entry("x")));
}

TEST(ServerListTest, ResultsFollowTheEntryTheyWereMeantForOrAreDropped) {
    ServerList list;
    const ServerList::Id first = list.Append(Entry("a"));
    const ServerList::Id second = list.Append(Entry("b"));
    const ServerList::Id third = list.Append(Entry("c"));
    list.Remove(2);

    // The result for the deleted entry must not land on the entry that took its number.
    EXPECT_FALSE(list.SetStatus(second, ServerStatus::Online));
    EXPECT_EQ(list.EntryAt(2)->status, ServerStatus::Unknown);
    EXPECT_TRUE(list.SetStatus(third, ServerStatus::Offline));
    EXPECT_TRUE(list.SetStatus(first, ServerStatus::Online));
    EXPECT_EQ(list.EntryAt(1)->status, ServerStatus::Online);
    EXPECT_EQ(list.EntryAt(2)->status, ServerStatus::Offline);

    // A new entry never reuses an old identity.
    const ServerList::Id fourth = list.Append(Entry("d"));
    EXPECT_NE(fourth, second);
    EXPECT_FALSE(list.SetStatus(second, ServerStatus::Online));
    EXPECT_EQ(list.EntryAt(3)->status, ServerStatus::Unknown);
}

TEST(ServerListTest, AWriterOutlivesItsListAndThenWritesNothing) {
    auto list = std::make_unique<ServerList>();
    const ServerList::Id id = list->Append(Entry("a"));
    const ServerList::StatusWriter writer = list->Writer();
    EXPECT_TRUE(writer.Set(id, ServerStatus::Online));
    list.reset();
    EXPECT_FALSE(writer.Set(id, ServerStatus::Offline));
}

// Workers deliver results while the user deletes, adds and edits: every result lands on its own entry or
// is dropped because that entry is gone. Run under ThreadSanitizer as well.
TEST(ServerListTest, ConcurrentResultsAgainstEditsAndDeletes) {
    constexpr int kEntries = 600;
    constexpr int kWorkers = 6;
    ServerList list;
    std::vector<ServerList::Id> ids;
    for (int i = 0; i < kEntries; ++i) {
        ids.push_back(list.Append(Entry("host")));
    }
    const auto expected = [](ServerList::Id id) { return id % 2 ? ServerStatus::Online : ServerStatus::Offline; };

    std::atomic<bool> go = false;
    std::vector<std::vector<ServerList::Id>> dropped(kWorkers);
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            const ServerList::StatusWriter writer = list.Writer();
            while (!go) {
                std::this_thread::yield();
            }
            for (std::size_t i = static_cast<std::size_t>(w); i < ids.size(); i += kWorkers) {
                if (!writer.Set(ids[i], expected(ids[i]))) {
                    dropped[static_cast<std::size_t>(w)].push_back(ids[i]);
                }
            }
        });
    }
    std::mt19937 random(7);
    go = true;
    for (int change = 0; change < 400; ++change) {
        const std::size_t count = list.Count();
        const std::size_t number = std::uniform_int_distribution<std::size_t>(1, count)(random);
        switch (change % 3) {
        case 0:
            list.Remove(number);
            break;
        case 1:
            list.Replace(number, Entry("edited"));
            break;
        default:
            list.Append(Entry("added"));
        }
    }
    for (std::thread& worker : workers) {
        worker.join();
    }

    std::set<ServerList::Id> left;
    for (const ServerList::Row& row : list.Rows()) {
        left.insert(row.id);
        if (row.id <= ids.back()) {
            EXPECT_EQ(row.entry.status, expected(row.id)) << row.id;
        } else {
            EXPECT_EQ(row.entry.status, ServerStatus::Unknown) << "added later, never probed";
        }
    }
    for (const auto& workerDropped : dropped) {
        for (const ServerList::Id id : workerDropped) {
            EXPECT_EQ(left.count(id), 0u) << "a result was dropped although its entry is still there";
        }
    }
}

} // namespace
