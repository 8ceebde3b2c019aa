#include "tools/IpLookup.h"
#include "runtime/Gbk.h"
#include "runtime/HttpFetch.h"
#include "tools/MarkedPage.h"

#include <cstdlib>
#include <gtest/gtest.h>

namespace {

using IpLookup::EmptyStatus;
using IpLookup::ParseLookupAnswer;
using IpLookup::ParseOwnAddress;

// A page as the lookup service writes it, in GBK, with `status` in the status span and an optional result line.
std::string Page(const std::string& status, const std::string& resultLine) {
    return Gbk::FromUtf8("<p>您的IP:[<strong class=\"red\">203.0.113.7</strong>] 来自:<strong>日本</strong></p>\r\n"
                         "<span id=\"status\" class=\"info1\">\r") +
           status + Gbk::FromUtf8("上面三项依次显示的是</span>\r\n") + resultLine;
}

std::string ResultLine(const std::string& address, const std::string& number, const std::string& location) {
    return Gbk::FromUtf8("<strong class=\"red\">查询结果[1]: ") + address + " ==>> " + number + " ==>> " + location +
           "</strong><br />\r\n";
}

TEST(MarkedPageTest, FollowsTheThreeRules) {
    // No closing marker anywhere: nothing, even with an opening marker present.
    EXPECT_EQ(ExtractBetweenMarkers("<a>value", "<a>", "</a>"), "");
    // No opening marker, or nothing between it and the next one or the end.
    EXPECT_EQ(ExtractBetweenMarkers("value</a>", "<a>", "</a>"), "");
    EXPECT_EQ(ExtractBetweenMarkers("<a><a>x</a>", "<a>", "</a>"), "");
    EXPECT_EQ(ExtractBetweenMarkers("</a><a>", "<a>", "</a>"), "");
    // The segment ends at the next opening marker; a closing marker beyond it does not count.
    EXPECT_EQ(ExtractBetweenMarkers("<a>one<a>two</a>", "<a>", "</a>"), "one");
    // A closing marker before the opening one only passes the first rule.
    EXPECT_EQ(ExtractBetweenMarkers("</a> <a>rest", "<a>", "</a>"), "rest");
    EXPECT_EQ(ExtractBetweenMarkers("x<a>first</a>second</a>", "<a>", "</a>"), "first");
    // A closing marker that runs across the start of the next opening marker is not inside the segment.
    EXPECT_EQ(ExtractBetweenMarkers("[v]][", "[", "]["), "v]]");
}

TEST(MarkedPageTest, NeverMatchesOnTheSecondByteOfACharacter) {
    // 0x81 0x5B and 0x81 0x5D are characters whose second bytes are "[" and "]".
    const std::string trailOpen = "\x81[";
    const std::string trailClose = "\x81]";
    EXPECT_EQ(ExtractBetweenMarkers(trailOpen + "a[v" + trailClose + "w]", "[", "]"), "v" + trailClose + "w");
    // The only "]" is a second byte, so the closing marker occurs nowhere.
    EXPECT_EQ(ExtractBetweenMarkers("[v" + trailClose, "[", "]"), "");
    // The only "[" is a second byte, so the opening marker occurs nowhere.
    EXPECT_EQ(ExtractBetweenMarkers(trailOpen + "v]", "[", "]"), "");
    // Searching on after a rejected hit still finds a later one, and one page serves several searches.
    const std::string text = trailOpen + trailOpen + "[x]" + trailClose + "]";
    const MarkedPage page(text);
    EXPECT_EQ(page.Extract("[", "]"), "x");
    EXPECT_EQ(page.Find("]", 0, 100), 6u);
    EXPECT_EQ(page.Find("]", 7, 100), 9u);
}

TEST(MarkedPageTest, MarkersStraddlingEveryCharacterAreSkipped) {
    // "中" is D6 D0 in GBK; the opening marker D0 D6 occurs between every two characters but never starts one,
    // until the real one at the end.
    std::string text;
    for (int i = 0; i < 50000; ++i) {
        text += "\xD6\xD0";
    }
    text += "a\xD0\xD6value]";
    EXPECT_EQ(ExtractBetweenMarkers(text, "\xD0\xD6", "]"), "value");
    EXPECT_EQ(ExtractBetweenMarkers(text.substr(0, 100000) + "]", "\xD0\xD6", "]"), "");
}

TEST(IpLookupTest, ResultLineGivesAddressAndLocation) {
    const std::string location = Gbk::FromUtf8("澳大利亚 APNIC");
    const IpLookup::LookupAnswer answer =
        ParseLookupAnswer(Page("\nfound\r\n", ResultLine("1.1.1.1", "16843009", location)));
    EXPECT_FALSE(answer.nothingFound);
    EXPECT_EQ(answer.address, "1.1.1.1");
    EXPECT_EQ(answer.location, location);

    const IpLookup::OwnAddress own = ParseOwnAddress(Page("\nfound\r\n", ""));
    EXPECT_EQ(own.address, "203.0.113.7");
    EXPECT_EQ(own.location, Gbk::FromUtf8("日本"));
}

TEST(IpLookupTest, OnlyTheExactEmptyStatusMeansNothingFound) {
    ASSERT_EQ(EmptyStatus().size(), 52u);
    const std::string line = ResultLine("10.0.0.1", "167772161", "x");
    EXPECT_TRUE(ParseLookupAnswer(Page(EmptyStatus(), line)).nothingFound);

    const std::string blanks32(32, ' ');
    const std::string blanks17(17, ' ');
    for (const std::string& nearMiss :
         {"\n" + std::string(31, ' ') + "\r\n" + blanks17, "\n" + blanks32 + "\r\n" + blanks17 + " ",
          "\n" + blanks32 + "\n" + blanks17, "\n\t" + std::string(31, ' ') + "\r\n" + blanks17, std::string()}) {
        const IpLookup::LookupAnswer answer = ParseLookupAnswer(Page(nearMiss, line));
        EXPECT_FALSE(answer.nothingFound);
        EXPECT_EQ(answer.address, "10.0.0.1");
        EXPECT_EQ(answer.location, "x");
    }
}

TEST(IpLookupTest, MissingOrBrokenResultLineGivesEmptyValues) {
    for (const std::string& page :
         {Page("\nfound\r\n", ""), Page("\nfound\r\n", Gbk::FromUtf8("<strong class=\"red\">查询结果[1]: 1.2.3.4")),
          std::string(), std::string("<html>moved</html>")}) {
        const IpLookup::LookupAnswer answer = ParseLookupAnswer(page);
        EXPECT_FALSE(answer.nothingFound);
        EXPECT_EQ(answer.address, "");
        EXPECT_EQ(answer.location, "");
    }
    // A result line cut before its end keeps the address but has no location.
    const IpLookup::LookupAnswer cut = ParseLookupAnswer(
        Page("\nfound\r\n", Gbk::FromUtf8("<strong class=\"red\">查询结果[1]: 1.2.3.4 ==>> 16909060 ==>> 澳")));
    EXPECT_EQ(cut.address, "1.2.3.4");
    EXPECT_EQ(cut.location, "");
}

TEST(IpLookupTest, PageTextIsStrictGbkUpToTheFirstZero) {
    const auto bytes = [](std::string_view text) { return Bytes(text.begin(), text.end()); };
    EXPECT_EQ(IpLookup::PageTextOf(bytes("来自:中国")), Gbk::FromUtf8("来自:中国"));
    EXPECT_EQ(IpLookup::PageTextOf(bytes(std::string_view("ab\0cd", 5))), "ab");
    // Invalid UTF-8, a character GBK lacks, and the euro sign all empty the whole page.
    EXPECT_EQ(IpLookup::PageTextOf(bytes("ok \xC3\x28 ok")), "");
    EXPECT_EQ(IpLookup::PageTextOf(bytes("ok \xF0\x9F\x98\x80 ok")), "");
    EXPECT_EQ(IpLookup::PageTextOf(bytes("ok \xE2\x82\xAC ok")), "");
    EXPECT_EQ(IpLookup::PageTextOf(bytes("truncated \xE4\xB8")), "");
}

TEST(IpLookupTest, AddressesAreSentAsTypedExceptCutHashAndEscapedBlanks) {
    EXPECT_EQ(IpLookup::QueryAddress("http://127.0.0.1:1/", "1.2.3.4 -t"), "http://127.0.0.1:1/?IP=1.2.3.4 -t");
    EXPECT_EQ(RequestAddress("http://127.0.0.1:1/?IP=1.2.3.4 -t"), "http://127.0.0.1:1/?IP=1.2.3.4%20-t");
    EXPECT_EQ(RequestAddress("http://127.0.0.1:1/?IP=a#b c"), "http://127.0.0.1:1/?IP=a");
    EXPECT_EQ(RequestAddress("http://h/?IP= a%20b+c&d=e"), "http://h/?IP=%20a%20b+c&d=e");
    EXPECT_EQ(RequestAddress("http://h/?IP=a\r\nX: y\t"), "http://h/?IP=a%0D%0AX:%20y%09");
    EXPECT_EQ(RequestAddress("http://h/?IP=" + Gbk::FromUtf8("中国")), "http://h/?IP=" + Gbk::FromUtf8("中国"));
}

TEST(IpLookupTest, EnvironmentOverridesTheBuiltInBaseAddress) {
    unsetenv("TOLVAR_LOOKUP_URL");
    const std::string builtIn = IpLookup::BaseAddress();
    EXPECT_EQ(builtIn.rfind("http", 0), 0u);
    setenv("TOLVAR_LOOKUP_URL", "http://127.0.0.1:9/", 1);
    EXPECT_EQ(IpLookup::BaseAddress(), "http://127.0.0.1:9/");
    setenv("TOLVAR_LOOKUP_URL", "", 1);
    EXPECT_EQ(IpLookup::BaseAddress(), builtIn);
    unsetenv("TOLVAR_LOOKUP_URL");
}

} // namespace
