#include "runtime/Gbk.h"
#include "runtime/Bytes.h"
#include "runtime/GbkDecoder.h"

#include <array>
#include <gtest/gtest.h>

namespace {

// "丂" is 0x81 0x40; a character whose second byte is "|" (0x7C) is 0x81 0x7C.
const std::string kTrailPipe = "\x81|";

TEST(GbkTest, FindNeverMatchesOnASecondByte) {
    // "|" appears only as the second byte of a two-byte character.
    EXPECT_EQ(Gbk::Find(kTrailPipe + "a", "|"), Gbk::npos);
    EXPECT_EQ(Gbk::Find(kTrailPipe + "|", "|"), 2u);
    // "A" (0x41) as the second byte of 0xB0 0x41.
    EXPECT_EQ(Gbk::Find("\xB0\x41\x41", "A"), 2u);
    EXPECT_EQ(Gbk::Find("abc", "c", 1), 2u);
    EXPECT_EQ(Gbk::Find("abc", "abcd"), Gbk::npos);
    // A lead byte at the very end stands alone.
    EXPECT_EQ(Gbk::Find("a\x81", "\x81"), 1u);
}

TEST(GbkTest, SplitCountsInnerAndLeadingEmptyPiecesButNotTheRemainder) {
    using Pieces = std::vector<std::string_view>;
    EXPECT_EQ(Gbk::Split("a|b|c", "|"), (Pieces{"a", "b", "c"}));
    EXPECT_EQ(Gbk::Split("a||", "|"), (Pieces{"a", ""}));
    EXPECT_EQ(Gbk::Split("|a", "|"), (Pieces{"", "a"}));
    EXPECT_EQ(Gbk::Split("", "|"), Pieces{});
    EXPECT_EQ(Gbk::Split("x\r\n\r\ny\r\n", "\r\n"), (Pieces{"x", "", "y"}));
    const std::string trail = kTrailPipe + "|z";
    EXPECT_EQ(Gbk::Split(trail, "|"), (Pieces{kTrailPipe, "z"}));

    // The allocation-free form counts every piece but keeps only as many as it has room for.
    std::array<std::string_view, 2> firstTwo{};
    EXPECT_EQ(Gbk::SplitInto("a||c|d|", "|", firstTwo), 4u);
    EXPECT_EQ(firstTwo, (std::array<std::string_view, 2>{"a", ""}));
}

TEST(GbkTest, ReplaceStepsOverTwoByteCharacters) {
    EXPECT_EQ(Gbk::Replace("a|b" + kTrailPipe, "|", "/"), "a/b" + kTrailPipe);
    EXPECT_EQ(Gbk::Replace("aaa", "aa", "b"), "ba");
    EXPECT_EQ(Gbk::Replace("abc", "", "x"), "abc");
}

TEST(GbkTest, EqualsIgnoreCaseFoldsOnlyAsciiLetters) {
    EXPECT_TRUE(Gbk::EqualsIgnoreCase("Name", "nAME"));
    EXPECT_TRUE(Gbk::EqualsIgnoreCase(Gbk::FromUtf8("网址Url"), Gbk::FromUtf8("网址URL")));
    // 0xB0 0x41 and 0xB0 0x61 are different characters, not case variants.
    EXPECT_FALSE(Gbk::EqualsIgnoreCase("\xB0\x41", "\xB0\x61"));
    EXPECT_FALSE(Gbk::EqualsIgnoreCase("ab", "abc"));
    EXPECT_FALSE(Gbk::EqualsIgnoreCase("[", "{"));
}

TEST(GbkTest, StrictConversionsRefuseWhatTheOtherSideCannotHold) {
    EXPECT_EQ(Gbk::TryFromUtf8("名称"), std::optional<std::string>("\xC3\xFB\xB3\xC6"));
    EXPECT_EQ(Gbk::TryToUtf8("\xCD\xF8\xD6\xB7"), std::optional<std::string>("网址"));
    EXPECT_EQ(Gbk::TryFromUtf8("\xF0\x9F\x98\x80"), std::nullopt); // an emoji
    EXPECT_EQ(Gbk::TryFromUtf8("\xFF"), std::nullopt);             // not UTF-8
    EXPECT_EQ(Gbk::TryToUtf8("a\x81"), std::nullopt);              // cut character
    EXPECT_EQ(Gbk::TryFromUtf8(""), std::optional<std::string>(""));
    // "€" would come out as a lone 0x80 that swallows the next byte; a trail byte 0x80 is fine.
    EXPECT_EQ(Gbk::TryFromUtf8("5€"), std::nullopt);
    EXPECT_EQ(Gbk::TryFromUtf8("亐"), std::optional<std::string>("\x81\x80"));
}

TEST(GbkTest, LenientConversionsReplaceOnlyTheBadCharacter) {
    EXPECT_EQ(Gbk::FromUtf8("a\xF0\x9F\x98\x80名"), "a?\xC3\xFB");
    EXPECT_EQ(Gbk::ToUtf8("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
    // A long text goes through the converter's buffer in several rounds.
    const std::string longText(5000, 'x');
    EXPECT_EQ(Gbk::ToUtf8(Gbk::FromUtf8(longText)), longText);
}

TEST(GbkTest, StreamDecoderKeepsACharacterSplitBetweenPiecesWhole) {
    const std::string text = Gbk::FromUtf8("来自 127.0.0.1 的回复: 字节=32 时间<1ms TTL=128\r\n");
    const std::string utf8 = Gbk::ToUtf8(text);
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        Gbk::StreamDecoder decoder;
        std::string decoded = decoder.Decode(std::string_view(text).substr(0, cut));
        decoded += decoder.Decode(std::string_view(text).substr(cut));
        EXPECT_EQ(decoded + decoder.Finish(), utf8) << "cut after byte " << cut;
    }
    // Byte by byte: a first byte with no second is replaced alone and the byte after it starts afresh; one left
    // over at the end becomes one stand-in too.
    Gbk::StreamDecoder decoder;
    std::string decoded;
    for (const char byte : "\x81 " + text + "\xB0") {
        decoded += decoder.Decode(std::string_view(&byte, 1));
    }
    EXPECT_EQ(decoded + decoder.Finish(), "\xEF\xBF\xBD " + utf8 + "\xEF\xBF\xBD");
}

TEST(GbkTest, BytesToTextStopsAtTheFirstZero) {
    EXPECT_EQ(TextFromBytes(Bytes{'a', 'b', 0, 'c'}), "ab");
    EXPECT_EQ(TextFromBytes(Bytes{'a'}), "a");
    EXPECT_EQ(BytesFromText(std::string("a\0b", 3)), (Bytes{'a', 0, 'b'}));
}

TEST(GbkTest, UnicodeFilesOfOtherToolsAreReadStrictly) {
    using namespace std::string_literals;
    // "中a" in UTF-16LE, and an astral character as a surrogate pair.
    EXPECT_EQ(Gbk::Utf8FromUtf16Le("\x2D\x4E\x61\x00"s), "\xE4\xB8\xAD"
                                                         "a");
    EXPECT_EQ(Gbk::Utf8FromUtf16Le("\x3D\xD8\x00\xDE"s), "\xF0\x9F\x98\x80");
    EXPECT_EQ(Gbk::Utf8FromUtf16Le(""s), "");
    for (const std::string& bad : {"\x61\x00\x62"s, "\x3D\xD8\x61\x00"s, "\x00\xDE"s, "\x61\x00\x00\x00"s}) {
        EXPECT_FALSE(Gbk::Utf8FromUtf16Le(bad)) << testing::PrintToString(bad);
    }
    EXPECT_TRUE(Gbk::IsUtf8("plain \xE4\xB8\xAD \xF0\x9F\x98\x80"s));
    for (const std::string& bad : {"\xC0\x80"s, "\xED\xA0\x80"s, "\x80"s, "\xE4\xB8"s, "\xD6\xD0"s}) {
        EXPECT_FALSE(Gbk::IsUtf8(bad)) << testing::PrintToString(bad);
    }
}

} // namespace
