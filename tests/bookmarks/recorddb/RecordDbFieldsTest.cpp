#include "RecordDbFixture.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "runtime/Gbk.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

using namespace RecordDb;

namespace {

class RecordDbFields : public RecordDbFixture {
protected:
    // One field of every fixed-size type, a 6-byte text and a memo, over two records.
    void OpenAllTypes() {
        TableImage table;
        table.recordSize = 64;
        table.fields = {{"byte", 1, 4, 0}, {"i16", 2, 5, 0},    {"i32", 3, 7, 0},    {"i64", 4, 11, 0},
                        {"f32", 5, 19, 0}, {"f64", 6, 23, 0},   {"flag", 7, 31, 0},  {"when", 8, 32, 0},
                        {"sub", 9, 40, 0}, {"text", 10, 44, 6}, {"memo", 12, 50, 0}, {"blob", 11, 54, 0}};
        table.AddRecord(1);
        table.AddRecord(2);
        table.nextRecordId = 3;
        Put("t.EDT", BytesFromText("WEDT"));
        Put("t.edb", table.Build());
        ASSERT_TRUE(Open("t.edb")) << LastError();
    }
    Bytes Record(int index) {
        const Bytes bytes = FileBytes("t.edb");
        const auto start = bytes.begin() + 116 + 72 * 12 + 64 * index;
        return {start, start + 64};
    }
    void PutRecordBytes(int index, std::size_t offset, const Bytes& stored) {
        Bytes bytes = FileBytes("t.edb");
        std::copy(stored.begin(), stored.end(), bytes.begin() + 116 + 72 * 12 + 64 * index + static_cast<long>(offset));
        Put("t.edb", bytes);
    }
};

TEST_F(RecordDbFields, EveryTypeRoundTripsThroughItsStoredBytes) {
    OpenAllTypes();
    ASSERT_TRUE(GoTo(2));
    EXPECT_TRUE(WriteField("byte", std::uint8_t{0xFE}));
    EXPECT_TRUE(WriteField("i16", std::int16_t{-2}));
    EXPECT_TRUE(WriteField("i32", std::int32_t{-123456}));
    EXPECT_TRUE(WriteField("i64", std::int64_t{-5000000000}));
    EXPECT_TRUE(WriteField("f32", 1.5f));
    EXPECT_TRUE(WriteField("f64", -2.25));
    EXPECT_TRUE(WriteField("flag", true));
    EXPECT_TRUE(WriteField("when", DateTime{42173.787}));
    EXPECT_TRUE(WriteField("sub", SubprogramRef{77}));
    EXPECT_TRUE(WriteField("text", Gbk::FromUtf8("名称")));

    const Bytes record = Record(1);
    EXPECT_EQ(ReadI32(record, 0), 2) << "the id is untouched";
    EXPECT_EQ(record[4], 0xFE);
    EXPECT_EQ(record[5], 0xFE);
    EXPECT_EQ(record[6], 0xFF);
    EXPECT_EQ(ReadI32(record, 7), -123456);
    std::int64_t i64 = 0;
    std::memcpy(&i64, record.data() + 11, 8);
    EXPECT_EQ(i64, -5000000000);
    EXPECT_EQ(std::bit_cast<float>(static_cast<std::uint32_t>(ReadI32(record, 19))), 1.5f);
    double f64 = 0;
    std::memcpy(&f64, record.data() + 23, 8);
    EXPECT_EQ(f64, -2.25);
    EXPECT_EQ(record[31], 1);
    EXPECT_EQ(ReadI32(record, 40), 77);
    EXPECT_EQ(Bytes(record.begin() + 44, record.begin() + 50), Bytes({0xC3, 0xFB, 0xB3, 0xC6, 0, 0}));
    Bytes untouched(64, 0);
    untouched[0] = 1;
    EXPECT_EQ(Record(0), untouched) << "the other record is untouched";

    EXPECT_EQ(ReadField("BYTE"), Value(std::uint8_t{0xFE}));
    EXPECT_EQ(ReadField("i16"), Value(std::int16_t{-2}));
    EXPECT_EQ(ReadField("i32"), Value(std::int32_t{-123456}));
    EXPECT_EQ(ReadField("i64"), Value(std::int64_t{-5000000000}));
    EXPECT_EQ(ReadField("f32"), Value(1.5f));
    EXPECT_EQ(ReadField("f64"), Value(-2.25));
    EXPECT_EQ(ReadField("Flag"), Value(true));
    EXPECT_EQ(ReadField("when"), Value(DateTime{42173.787}));
    EXPECT_EQ(ReadField("sub"), Value(SubprogramRef{77}));
    EXPECT_EQ(ReadField("TEXT"), Value(Gbk::FromUtf8("名称")));
    EXPECT_EQ(LastError(), kOk);
}

TEST_F(RecordDbFields, NumbersConvertButOtherKindsDoNot) {
    OpenAllTypes();
    EXPECT_TRUE(WriteField("f64", std::int32_t{7}));
    EXPECT_EQ(ReadField("f64"), Value(7.0));
    EXPECT_TRUE(WriteField("i32", 3.99));
    EXPECT_EQ(ReadField("i32"), Value(std::int32_t{3}));
    EXPECT_TRUE(WriteField("i32", -3.99f));
    EXPECT_EQ(ReadField("i32"), Value(std::int32_t{-3}));
    EXPECT_TRUE(WriteField("i16", std::int32_t{70000}));
    EXPECT_EQ(ReadField("i16"), Value(std::int16_t{4464})) << "whole numbers wrap like a narrowing cast";
    // Values no target can hold are held at its limits rather than left undefined.
    EXPECT_TRUE(WriteField("byte", 1e300));
    EXPECT_EQ(ReadField("byte"), Value(std::uint8_t{255}));
    EXPECT_TRUE(WriteField("i64", -1e300));
    EXPECT_EQ(ReadField("i64"), Value(std::numeric_limits<std::int64_t>::min()));
    EXPECT_TRUE(WriteField("i32", std::nan("")));
    EXPECT_EQ(ReadField("i32"), Value(std::int32_t{0}));
    EXPECT_TRUE(WriteField("f32", 1e300));
    EXPECT_EQ(ReadField("f32"), Value(std::numeric_limits<float>::infinity()));
    EXPECT_TRUE(WriteField("byte", std::int64_t{258}));
    EXPECT_EQ(ReadField("byte"), Value(std::uint8_t{2}));

    const Bytes before = FileBytes("t.edb");
    const std::pair<const char*, Value> mismatches[] = {
        {"i32", std::string("12")}, {"text", std::int32_t{12}}, {"flag", std::int32_t{1}}, {"i32", true},
        {"when", 42173.0},          {"f64", DateTime{1}},       {"sub", std::int32_t{1}},  {"memo", Bytes{1}},
        {"blob", std::string("x")}, {"text", Bytes{'a'}},
    };
    for (const auto& [name, value] : mismatches) {
        SetLastError(kOk);
        EXPECT_FALSE(WriteField(name, value)) << name;
        EXPECT_EQ(LastError(), kErrTypeMismatch) << name;
    }
    EXPECT_FALSE(WriteField("nosuch", std::int32_t{1}));
    EXPECT_EQ(LastError(), kErrNoSuchField);
    EXPECT_EQ(FileBytes("t.edb"), before);
}

TEST_F(RecordDbFields, StoredBytesDecodeByTheirRules) {
    OpenAllTypes();
    auto storeDouble = [&](std::size_t offset, double value) {
        Bytes stored(8);
        std::memcpy(stored.data(), &value, 8);
        PutRecordBytes(0, offset, stored);
    };
    storeDouble(32, 3e6);
    EXPECT_EQ(ReadField("when"), Value(DateTime{2958465}));
    storeDouble(32, -1e6);
    EXPECT_EQ(ReadField("when"), Value(DateTime{-657434}));
    storeDouble(32, -657434);
    EXPECT_EQ(ReadField("when"), Value(DateTime{-657434}));
    PutRecordBytes(0, 31, {0x7F});
    EXPECT_EQ(ReadField("flag"), Value(true));
    // A text field full to the brim has no NUL; it reads as all its bytes.
    PutRecordBytes(0, 44, BytesFromText("abcdef"));
    EXPECT_EQ(ReadField("text"), Value(std::string("abcdef")));
    EXPECT_EQ(ReadField("memo"), Value(std::string())) << "an empty memo";
    EXPECT_EQ(LastError(), kOk);
    PutRecordBytes(0, 50, {1, 0, 0, 0});
    EXPECT_EQ(ReadField("memo"), Value(std::string()));
    EXPECT_EQ(LastError(), kErrMemoAccessFailed);
    EXPECT_FALSE(WriteField("memo", std::string("long text")));
    EXPECT_EQ(LastError(), kErrMemoAccessFailed);
}

TEST_F(RecordDbFields, TextsArePaddedOrCutToTheWidth) {
    Put("websc.edb", DefaultBookmarkImage());
    ASSERT_TRUE(Open("websc.edb"));
    const std::string name = Gbk::FromUtf8("名称");
    const std::string longest(499, 'a');
    ASSERT_TRUE(WriteField(name, longest));
    Bytes bytes = FileBytes("websc.edb");
    EXPECT_EQ(bytes[264 + 498], 'a');
    EXPECT_EQ(bytes[264 + 499], 0);
    EXPECT_EQ(ReadField(name), Value(longest));

    // Longer texts lose their NUL and their tail; the next field is untouched.
    std::string tooLong(600, 'b');
    tooLong[500] = 'X';
    ASSERT_TRUE(WriteField(name, tooLong));
    bytes = FileBytes("websc.edb");
    EXPECT_EQ(bytes[264 + 499], 'b');
    EXPECT_EQ(TextFromBytes(Bytes(bytes.begin() + 764, bytes.end())), "https://www.baidu.com/");
    EXPECT_EQ(ReadField(name), Value(std::string(500, 'b')));
    EXPECT_EQ(ReadField("\xCD\xF8\xD6\xB7"), Value(std::string("https://www.baidu.com/")));

    // A shorter text clears what a longer one left behind; a cut can split a two-byte character.
    ASSERT_TRUE(WriteField(name, std::string("x")));
    bytes = FileBytes("websc.edb");
    EXPECT_TRUE(std::all_of(bytes.begin() + 265, bytes.begin() + 764, [](unsigned char b) { return b == 0; }));
    const std::string wide = std::string(499, 'c') + Gbk::FromUtf8("网");
    ASSERT_TRUE(WriteField(name, wide));
    EXPECT_EQ(ReadField(name), Value(wide.substr(0, 500)));
    EXPECT_EQ(FileBytes("websc.edb").size(), 1276u);
}

TEST_F(RecordDbFields, FieldNamesIgnoreLatinCaseOnly) {
    TableImage table = BookmarkTable();
    table.fields[0].name = Gbk::FromUtf8("Url地址");
    table.AddRecord(1);
    Put("t.edb", table.Build());
    ASSERT_TRUE(Open("t.edb"));
    EXPECT_TRUE(WriteField(Gbk::FromUtf8("uRL地址"), std::string("x")));
    EXPECT_EQ(ReadField(Gbk::FromUtf8("URL地址")), Value(std::string("x")));
    EXPECT_FALSE(WriteField(Gbk::FromUtf8("URL地"), std::string("x")));
    EXPECT_EQ(LastError(), kErrNoSuchField);
}

TEST_F(RecordDbFields, WritesNeverGrowTheFile) {
    TableImage table = BookmarkTable();
    table.AddRecord(1);
    Bytes bytes = table.Build();
    Put("t.edb", bytes);
    ASSERT_TRUE(Open("t.edb"));
    bytes.resize(260 + 600); // another writer cut the record short
    Put("t.edb", bytes);
    EXPECT_FALSE(WriteField(Gbk::FromUtf8("网址"), std::string("x")));
    EXPECT_EQ(LastError(), kErrNoCurrentRecord);
    EXPECT_EQ(ReadField(Gbk::FromUtf8("网址")), Value(std::string()));
    EXPECT_EQ(LastError(), kErrReadFieldFailed);
    EXPECT_EQ(FileBytes("t.edb"), bytes);
}

TEST_F(RecordDbFields, WideTextOverShortFileReadsNothing) {
    TableImage table;
    table.recordSize = 0x7F000000;
    table.fields = {{"T", 10, 4, 0x7E000000}};
    Put("t.edb", table.Build());
    ASSERT_TRUE(Open("t.edb")) << LastError();
    EXPECT_EQ(ReadField("t"), Value(std::string()));
    EXPECT_EQ(LastError(), kErrSeek);
    Bytes bytes = table.Build();
    bytes.resize(bytes.size() + 4096);
    PutI32(bytes, 16, 0);
    Put("t.edb", bytes);
    EXPECT_EQ(ReadField("t"), Value(std::string()));
    EXPECT_EQ(LastError(), kErrReadFieldFailed);
}

using RecordDbFieldsDeathTest = RecordDbFields;

TEST_F(RecordDbFieldsDeathTest, ReadFieldWithoutTableOrFieldIsFatal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(ReadField("x"), ::testing::ExitedWithCode(255), "未指定当前数据库或者指定数据库未打开");
    Put("websc.edb", DefaultBookmarkImage());
    ASSERT_TRUE(Open("websc.edb"));
    EXPECT_EXIT(ReadField(Gbk::FromUtf8("地址")), ::testing::ExitedWithCode(255), "指定字段不存在");
}

} // namespace
