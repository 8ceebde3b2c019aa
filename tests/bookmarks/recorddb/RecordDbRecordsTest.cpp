#include "RecordDbFixture.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "runtime/Gbk.h"

#include <filesystem>

using namespace RecordDb;

namespace {

class RecordDbRecords : public RecordDbFixture {
protected:
    // A table of `count` records whose "名称" holds "r<id>".
    void OpenNumbered(int count) {
        TableImage table = BookmarkTable();
        for (int id = 1; id <= count; ++id) {
            table.AddRecord(id);
            const std::string name = "r" + std::to_string(id);
            std::copy(name.begin(), name.end(), table.records.back().begin() + 4);
        }
        table.nextRecordId = count + 1;
        Put("t.edb", table.Build());
        ASSERT_TRUE(Open("t.edb"));
    }
    static std::string Name() { return std::get<std::string>(ReadField(Gbk::FromUtf8("名称"))); }
};

TEST_F(RecordDbRecords, AppendBlankOnDefaultImage) {
    Put("websc.edb", DefaultBookmarkImage());
    ASSERT_TRUE(Open("websc.edb"));
    ASSERT_TRUE(AppendBlank());
    EXPECT_EQ(RecordCount(), 2);
    EXPECT_EQ(Name(), "") << "the new record is current";
    const Bytes bytes = FileBytes("websc.edb");
    ASSERT_EQ(bytes.size(), 1276u + 1016);
    EXPECT_EQ(ReadI32(bytes, 16), 2);
    EXPECT_EQ(ReadI32(bytes, 20), 19);
    EXPECT_EQ(ReadI32(bytes, 1276), 18);
    EXPECT_TRUE(std::all_of(bytes.begin() + 1280, bytes.end(), [](unsigned char b) { return b == 0; }));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 16, DefaultBookmarkImage().begin()));
}

TEST_F(RecordDbRecords, AppendBlankTakesIdOneWhenNextIdIsNotPositive) {
    TableImage table = BookmarkTable();
    table.nextRecordId = 5;
    Bytes bytes = table.Build();
    Put("t.edb", bytes);
    ASSERT_TRUE(Open("t.edb"));
    // Another writer stored nonsense after the open.
    PutI32(bytes, 20, -3);
    PutI32(bytes, 16, -2);
    Put("t.edb", bytes);
    ASSERT_TRUE(AppendBlank());
    bytes = FileBytes("t.edb");
    EXPECT_EQ(ReadI32(bytes, 16), 1);
    EXPECT_EQ(ReadI32(bytes, 20), 2);
    EXPECT_EQ(ReadI32(bytes, 260), 1);
}

TEST_F(RecordDbRecords, AppendBlankRefusesToOverflowTheIds) {
    TableImage table = BookmarkTable();
    table.nextRecordId = 0x7FFFFFFF;
    Put("t.edb", table.Build());
    ASSERT_TRUE(Open("t.edb"));
    EXPECT_FALSE(AppendBlank());
    EXPECT_EQ(LastError(), kErrWriteRecordFailed);
    CloseAll();
    EXPECT_EQ(FileBytes("t.edb"), table.Build());
    EXPECT_TRUE(Open("t.edb"));
}

TEST_F(RecordDbRecords, AppendBlankKeepsRecordsWithinTheFirstTwoGigabytes) {
    TableImage table;
    table.recordSize = 0x40000000;
    table.fields = {{"B", 1, 4, 0}};
    table.recordCount = 1;
    table.nextRecordId = 2;
    Bytes bytes = table.Build();
    PutI32(bytes, 16, 1);
    bytes.resize(bytes.size() + 4);
    PutI32(bytes, 188, 1);
    const std::string path = Put("t.edb", bytes);
    std::filesystem::resize_file(path, 188 + 0x40000000); // sparse
    ASSERT_TRUE(Open("t.edb")) << LastError();
    EXPECT_EQ(RecordCount(), 1);
    EXPECT_FALSE(AppendBlank());
    EXPECT_EQ(LastError(), kErrWriteRecordFailed);
    EXPECT_EQ(std::filesystem::file_size(path), 188u + 0x40000000);
}

TEST_F(RecordDbRecords, AppendBlankFailsWhenFileIsShorterThanItsCount) {
    TableImage table = BookmarkTable();
    table.AddRecord(1);
    table.AddRecord(2);
    Bytes bytes = table.Build();
    Put("t.edb", bytes);
    ASSERT_TRUE(Open("t.edb"));
    bytes.resize(260 + 1016);
    Put("t.edb", bytes);
    EXPECT_FALSE(AppendBlank());
    EXPECT_EQ(LastError(), kErrSeek);
    EXPECT_EQ(FileBytes("t.edb"), bytes);
}

TEST_F(RecordDbRecords, GoToClampsToTheTable) {
    OpenNumbered(3);
    EXPECT_TRUE(GoTo(2));
    EXPECT_EQ(Name(), "r2");
    EXPECT_TRUE(GoTo(0));
    EXPECT_EQ(Name(), "r1");
    EXPECT_TRUE(GoTo(1));
    EXPECT_EQ(Name(), "r1");
    EXPECT_TRUE(GoTo(99));
    EXPECT_EQ(Name(), "r3");
    EXPECT_TRUE(GoTo(-2147483647 - 1));
    EXPECT_EQ(Name(), "r1");
}

TEST_F(RecordDbRecords, SkipWalksAndStopsOneBeyondEachEnd) {
    OpenNumbered(3);
    EXPECT_TRUE(Skip(0));
    EXPECT_EQ(Name(), "r1");
    EXPECT_TRUE(Skip());
    EXPECT_EQ(Name(), "r2");
    EXPECT_TRUE(Skip(100)); // after the last record
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(LastError(), kErrSeek);
    EXPECT_FALSE(Skip(1));
    EXPECT_EQ(LastError(), kErrAfterLast);
    EXPECT_TRUE(Skip(-1));
    EXPECT_EQ(Name(), "r3");
    EXPECT_TRUE(Skip(-100)); // before the first record
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(LastError(), kErrNoCurrentRecord);
    EXPECT_FALSE(WriteField(Gbk::FromUtf8("名称"), std::string("x")));
    EXPECT_EQ(LastError(), kErrNoCurrentRecord);
    EXPECT_FALSE(MarkDeleted());
    EXPECT_EQ(LastError(), kErrNoCurrentRecord);
    EXPECT_FALSE(Skip(-1));
    EXPECT_EQ(LastError(), kErrBeforeFirst);
    EXPECT_TRUE(Skip(1));
    EXPECT_EQ(Name(), "r1");
}

TEST_F(RecordDbRecords, EmptyTableHasNowhereToGo) {
    OpenNumbered(0);
    EXPECT_EQ(RecordCount(), 0);
    EXPECT_TRUE(GoTo(5));
    EXPECT_FALSE(Skip(1));
    EXPECT_EQ(LastError(), kErrAfterLast);
    EXPECT_FALSE(Skip(-1));
    EXPECT_EQ(LastError(), kErrBeforeFirst);
    EXPECT_EQ(Name(), "");
    EXPECT_EQ(LastError(), kErrSeek);
    EXPECT_FALSE(WriteField(Gbk::FromUtf8("名称"), std::string("x")));
    EXPECT_EQ(LastError(), kErrNoCurrentRecord);
    EXPECT_FALSE(MarkDeleted());
    EXPECT_EQ(LastError(), kErrNoCurrentRecord);
    EXPECT_EQ(FileBytes("t.edb").size(), 260u);
}

TEST_F(RecordDbRecords, RecordCountSeesOtherWritersAndIgnoresNegativeCounts) {
    OpenNumbered(2);
    Bytes bytes = FileBytes("t.edb");
    PutI32(bytes, 16, 1);
    Put("t.edb", bytes);
    EXPECT_EQ(RecordCount(), 1);
    EXPECT_TRUE(Skip(1));
    EXPECT_FALSE(Skip(1)) << "navigation follows the count last read";
    PutI32(bytes, 16, -4);
    Put("t.edb", bytes);
    EXPECT_EQ(RecordCount(), 0);
    EXPECT_EQ(LastError(), kOk);
    Put("t.edb", Bytes(18, 0));
    EXPECT_EQ(RecordCount(), 0);
    EXPECT_EQ(LastError(), kErrRecordCountFailed);
}

TEST_F(RecordDbRecords, OperationsWithoutCurrentTableFail) {
    EXPECT_EQ(RecordCount(), 0);
    EXPECT_EQ(LastError(), kErrNoCurrentTable);
    for (bool (*operation)() : {+[] { return GoTo(1); }, +[] { return Skip(1); }, &AppendBlank, &MarkDeleted, &Pack}) {
        SetLastError(kOk);
        EXPECT_FALSE(operation());
        EXPECT_EQ(LastError(), kErrNoCurrentTable);
    }
    EXPECT_FALSE(WriteField("x", std::string()));
    EXPECT_EQ(LastError(), kErrNotOpen);
    Close();
    EXPECT_EQ(LastError(), kOk);
}

TEST_F(RecordDbRecords, MarkDeletedNegatesTheIdOnce) {
    OpenNumbered(2);
    ASSERT_TRUE(GoTo(2));
    ASSERT_TRUE(MarkDeleted());
    ASSERT_TRUE(MarkDeleted());
    EXPECT_EQ(ReadI32(FileBytes("t.edb"), 260 + 1016), -2);
    EXPECT_EQ(RecordCount(), 2);
    EXPECT_EQ(Name(), "r2") << "a marked record still reads";
}

TEST_F(RecordDbRecords, ReadOnlyTableRefusesWrites) {
    TableImage table = BookmarkTable();
    table.AddRecord(1);
    table.nextRecordId = 2;
    Put("t.edb", table.Build());
    ASSERT_TRUE(Open("t.edb", {}, true));
    EXPECT_FALSE(AppendBlank());
    EXPECT_EQ(LastError(), kErrAccessDenied);
    EXPECT_FALSE(WriteField(Gbk::FromUtf8("名称"), std::string("x")));
    EXPECT_EQ(LastError(), kErrAccessDenied);
    EXPECT_FALSE(MarkDeleted());
    EXPECT_EQ(LastError(), kErrAccessDenied);
    EXPECT_EQ(FileBytes("t.edb"), table.Build());
}

} // namespace
