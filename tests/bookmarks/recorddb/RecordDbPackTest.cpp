#include "RecordDbFixture.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "runtime/Gbk.h"

#include <random>

using namespace RecordDb;

namespace {

class RecordDbPack : public RecordDbFixture {
protected:
    // Marks the records `deleted` names, packs, and checks the file holds the others but those already marked.
    void PackAndCheck(TableImage table, const std::vector<bool>& deleted) {
        Put("t.edb", table.Build());
        ASSERT_TRUE(Open("t.edb"));
        for (std::size_t i = 0; i < deleted.size(); ++i) {
            if (deleted[i]) {
                ASSERT_TRUE(GoTo(static_cast<int>(i) + 1));
                ASSERT_TRUE(MarkDeleted());
            }
        }
        ASSERT_TRUE(Pack()) << LastError();
        TableImage expected = table;
        expected.records.clear();
        expected.recordCount = 0;
        for (std::size_t i = 0; i < deleted.size(); ++i) {
            if (!deleted[i] && ReadI32(table.records[i], 0) > 0) {
                expected.records.push_back(table.records[i]);
                ++expected.recordCount;
            }
        }
        EXPECT_EQ(RecordCount(), expected.recordCount);
        CloseAll();
        EXPECT_TRUE(FileBytes("t.edb") == expected.Build());
    }
};

TEST_F(RecordDbPack, OnlyRecordGoneLeavesHeaderAndKeepsNextId) {
    Put("websc.edb", DefaultBookmarkImage());
    ASSERT_TRUE(Open("websc.edb"));
    ASSERT_TRUE(MarkDeleted());
    ASSERT_TRUE(Pack());
    EXPECT_EQ(RecordCount(), 0);
    const Bytes bytes = FileBytes("websc.edb");
    ASSERT_EQ(bytes.size(), 260u);
    EXPECT_EQ(ReadI32(bytes, 16), 0);
    EXPECT_EQ(ReadI32(bytes, 20), 18);
    ASSERT_TRUE(AppendBlank());
    EXPECT_EQ(ReadI32(FileBytes("websc.edb"), 260), 18) << "ids are never reused";
}

TEST_F(RecordDbPack, NothingMarkedChangesNothingButTheCurrentRecord) {
    TableImage table = NumberedTable(1016, 5);
    Put("t.edb", table.Build());
    ASSERT_TRUE(Open("t.edb"));
    ASSERT_TRUE(GoTo(4));
    ASSERT_TRUE(Pack());
    EXPECT_EQ(ReadField("b"), Value(static_cast<std::uint8_t>(7)));
    EXPECT_EQ(FileBytes("t.edb"), table.Build());
}

TEST_F(RecordDbPack, ManyChunksWithScatteredDeletions) {
    // 1016-byte records: 161 to a chunk, so 700 records span five chunks.
    std::mt19937 random(12345);
    std::vector<bool> deleted(700);
    for (std::size_t i = 0; i < deleted.size(); ++i) {
        deleted[i] = random() % 3 == 0;
    }
    deleted[160] = deleted[161] = true; // across a chunk boundary
    PackAndCheck(NumberedTable(1016, 700), deleted);
}

TEST_F(RecordDbPack, FirstOrLastOrEveryRecord) {
    std::vector<bool> first(400, false);
    first[0] = true;
    PackAndCheck(NumberedTable(1016, 400), first);
    std::vector<bool> last(400, false);
    last[399] = true;
    PackAndCheck(NumberedTable(1016, 400), last);
    PackAndCheck(NumberedTable(1016, 400), std::vector<bool>(400, true));
}

TEST_F(RecordDbPack, TinyAndHugeRecords) {
    PackAndCheck(NumberedTable(5, 70000), [] {
        std::vector<bool> deleted(70000);
        for (std::size_t i = 0; i < deleted.size(); i += 3) {
            deleted[i] = true;
        }
        return deleted;
    }());
    // Larger than the buffer: moved piece by piece.
    PackAndCheck(NumberedTable(400000, 5), {false, true, false, true, false});
}

TEST_F(RecordDbPack, RecordsMarkedByAnotherWriterAreDroppedToo) {
    TableImage table = NumberedTable(16, 3);
    PutI32(table.records[1], 0, -2);
    PackAndCheck(table, {false, false, false});
}

TEST_F(RecordDbPack, ShortFileIsRefusedBeforeAnythingMoves) {
    TableImage table = NumberedTable(1016, 3);
    PutI32(table.records[0], 0, -1);
    Bytes bytes = table.Build();
    Put("t.edb", bytes);
    ASSERT_TRUE(Open("t.edb"));
    bytes.resize(bytes.size() - 10);
    Put("t.edb", bytes);
    EXPECT_FALSE(Pack());
    EXPECT_EQ(LastError(), kErrReadRecordFailed);
    EXPECT_EQ(FileBytes("t.edb"), bytes);
}

TEST_F(RecordDbPack, ReadOnlyTableLeavesTheFileAlone) {
    TableImage table = NumberedTable(1016, 3);
    PutI32(table.records[1], 0, -2);
    Put("t.edb", table.Build());
    ASSERT_TRUE(Open("t.edb", {}, true));
    EXPECT_FALSE(Pack());
    EXPECT_EQ(LastError(), kErrAccessDenied);
    EXPECT_EQ(FileBytes("t.edb"), table.Build());
}

} // namespace
