#include "tools/PingArguments.h"
#include "runtime/Gbk.h"

#include <gtest/gtest.h>

namespace {

using Words = std::vector<std::string>;

Words Translated(const std::string& text) {
    return TranslatePingArguments(text).arguments;
}

TEST(PingArgumentsTest, EveryWindowsOptionBecomesTheLocalOne) {
    EXPECT_EQ(Translated("127.0.0.1"), (Words{"-O", "-c", "4", "127.0.0.1"}));
    EXPECT_EQ(Translated("127.0.0.1 -t"), (Words{"-O", "127.0.0.1"}));
    EXPECT_EQ(Translated("-a localhost"), (Words{"-O", "-c", "4", "localhost"}));
    EXPECT_EQ(Translated("-n 2 localhost"), (Words{"-O", "-c", "2", "localhost"}));
    EXPECT_EQ(Translated("localhost -l 100"), (Words{"-s", "100", "-O", "-c", "4", "localhost"}));
    EXPECT_EQ(Translated("-f localhost"), (Words{"-M", "do", "-O", "-c", "4", "localhost"}));
    EXPECT_EQ(Translated("-i 7 localhost"), (Words{"-t", "7", "-O", "-c", "4", "localhost"}));
    EXPECT_EQ(Translated("-v 16 localhost"), (Words{"-Q", "16", "-O", "-c", "4", "localhost"}));
    EXPECT_EQ(Translated("-S 127.0.0.1 localhost"), (Words{"-I", "127.0.0.1", "-O", "-c", "4", "localhost"}));
    EXPECT_EQ(Translated("-4 localhost -6"), (Words{"-4", "-6", "-O", "-c", "4", "localhost"}));
    // Slashes introduce options as well.
    EXPECT_EQ(Translated("/t /n 3 /l 8 localhost"), (Words{"-s", "8", "-O", "-c", "3", "localhost"}));
}

TEST(PingArgumentsTest, TimeoutIsRoundedUpToWholeSeconds) {
    EXPECT_EQ(Translated("-w 1000 h"), (Words{"-W", "1", "-O", "-c", "4", "h"}));
    EXPECT_EQ(Translated("-w 1001 h"), (Words{"-W", "2", "-O", "-c", "4", "h"}));
    EXPECT_EQ(Translated("-w 1 h"), (Words{"-W", "1", "-O", "-c", "4", "h"}));
    // Zero seconds is refused by the local ping, so the shortest wait is one second.
    EXPECT_EQ(Translated("-w 0 h"), (Words{"-W", "1", "-O", "-c", "4", "h"}));
    EXPECT_EQ(Translated("-w 4294967295 h"), (Words{"-W", "4294968", "-O", "-c", "4", "h"}));
}

TEST(PingArgumentsTest, TheLastOfCountAndEndlessWins) {
    EXPECT_EQ(Translated("-t -n 3 h"), (Words{"-O", "-c", "3", "h"}));
    EXPECT_EQ(Translated("-n 3 -t h"), (Words{"-O", "h"}));
}

TEST(PingArgumentsTest, OptionsWithoutLocalEquivalentAreReportedNotDropped) {
    const PingArguments result = TranslatePingArguments("-r 3 -s 2 -j 10.0.0.1 10.0.0.2 -k 10.0.0.3 -R h");
    EXPECT_EQ(result.arguments, (Words{"-O", "-c", "4", "h"}));
    EXPECT_FALSE(result.refused);
    ASSERT_EQ(result.notices.size(), 5u);
    const char* options[] = {"-r", "-s", "-j", "-k", "-R"};
    for (std::size_t i = 0; i < result.notices.size(); ++i) {
        EXPECT_NE(result.notices[i].find(options[i]), std::string::npos) << Gbk::ToUtf8(result.notices[i]);
    }
    EXPECT_EQ(Gbk::ToUtf8(result.notices[0]), "选项 -r 在本机的 ping 中没有对应的功能，已忽略。");
    // A host list at the end of the line leaves the last word as the target.
    EXPECT_EQ(Translated("-j 10.0.0.1 10.0.0.2 h"), (Words{"-O", "-c", "4", "h"}));
}

TEST(PingArgumentsTest, SecondTargetOrUnknownOptionRefusesTheWholeLine) {
    // The local ping would take two destination words as a route hop and a destination.
    const struct {
        const char* line;
        const char* reason;
    } refused[] = {
        {"-t 127.0.0.1 -n 2 localhost -4", "参数 localhost 无效：一次只能 ping 一个目标。"},
        // The value of an option this console does not know could be taken for a second target.
        {"127.0.0.1 -c 5", "无法识别的选项 -c。"},
        {"-r 2 /T 127.0.0.1", "无法识别的选项 /T。"},
    };
    for (const auto& [line, reason] : refused) {
        const PingArguments result = TranslatePingArguments(line);
        EXPECT_TRUE(result.refused) << line;
        EXPECT_TRUE(result.arguments.empty()) << line;
        // Only the reason: what an earlier option would have left out no longer matters.
        ASSERT_EQ(result.notices.size(), 1u) << line;
        EXPECT_EQ(Gbk::ToUtf8(result.notices[0]), reason);
    }
    // A request for help is the usage alone.
    EXPECT_TRUE(TranslatePingArguments("/? 127.0.0.1").refused);
    EXPECT_TRUE(TranslatePingArguments("-?").notices.empty());
}

TEST(PingArgumentsTest, MissingAndBadValuesAreReportedAndTheOptionLeftOut) {
    const PingArguments result = TranslatePingArguments("-n abc -l -t -w 99999999999 -n 0 -i 1x h -S");
    // "-t" after a valueless "-l" still counts, and "-n 0" must not become the local endless count.
    EXPECT_EQ(result.arguments, (Words{"-O", "h"}));
    ASSERT_EQ(result.notices.size(), 6u);
    EXPECT_EQ(Gbk::ToUtf8(result.notices[0]), "选项 -n 的取值 abc 无效，已忽略。");
    EXPECT_EQ(Gbk::ToUtf8(result.notices[1]), "选项 -l 缺少取值，已忽略。");
    // A zero count is left out like any other bad value, and said so.
    EXPECT_EQ(Gbk::ToUtf8(result.notices[3]), "选项 -n 的取值 0 无效，已忽略。");
    EXPECT_EQ(Gbk::ToUtf8(result.notices[5]), "选项 -S 缺少取值，已忽略。");
    EXPECT_EQ(Translated("-n 0 h"), (Words{"-O", "-c", "4", "h"}));
    EXPECT_EQ(TranslatePingArguments("-n 000 h").notices.size(), 1u);
}

TEST(PingArgumentsTest, WithoutTargetOnlyTheUsageIsShown) {
    for (const char* line : {"", " \t ", " -t -r 2"}) {
        const PingArguments result = TranslatePingArguments(line);
        EXPECT_TRUE(result.refused) << line;
        EXPECT_TRUE(result.arguments.empty()) << line;
        EXPECT_TRUE(result.notices.empty()) << line;
    }
}

TEST(PingArgumentsTest, ShellCharactersStayPlainText) {
    const std::string word = "127.0.0.1;touch${IFS}x|$(id)`id`&>out'a'*";
    EXPECT_EQ(Translated(word + " -t"), (Words{"-O", word}));
    // Split into words, nothing runs them: the second word is a second target, refused.
    EXPECT_TRUE(TranslatePingArguments("127.0.0.1 ; touch x").refused);
}

TEST(PingArgumentsTest, CommandLineSplitsLikeAWindowsProgram) {
    EXPECT_EQ(SplitCommandLine(R"(a "b c"  d"e f"g)"), (Words{"a", "b c", "de fg"}));
    // Backslashes are literal unless they come before a quote; there they pair up.
    EXPECT_EQ(SplitCommandLine(R"(a\b c\"d e\\"f g" h\\\"i)"), (Words{R"(a\b)", R"(c"d)", R"(e\f g)", R"(h\"i)"}));
    // An empty quoted word counts; a doubled quote inside quotes is one quote; an open quote runs to the end.
    EXPECT_EQ(SplitCommandLine(R"("" "a""b" "c d)"), (Words{"", R"(a"b)", "c d"}));
    // The second byte of a two-byte character may be a backslash; it must not make the quote after it literal.
    const std::string character = "\x95\x5c";
    EXPECT_EQ(SplitCommandLine("\"" + character + "\" x"), (Words{character, "x"}));
    const std::string gbk = Gbk::FromUtf8("百度.中国");
    EXPECT_EQ(Translated(gbk + " -t"), (Words{"-O", gbk}));
}

} // namespace
