#include "settings/SettingsFile.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "settings/Rc4Crypt.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace std::string_literals;

Bytes FromString(std::string_view s) {
    return {s.begin(), s.end()};
}

// Every byte of a literal, zero bytes included.
template <std::size_t N> Bytes Literal(const char (&s)[N]) {
    return Bytes(s, s + N - 1);
}

// The three-line example file (one entry, full screen, no password), enciphered under "7403" by hand.
const Bytes kExampleFile = Literal("\xCD\x04\x03\xC3\x0B\x77\x71\x32\xBA\x7F\x9A\xB9\x39\xFC\x06\xBD\x47\x23\x6F\x2D"
                                   "\x01\xA0\xC1\x51\xCC\x9F\x36\xB7\x80\x97\x05\x6C\x26\x24\xD1\x60\x9E\xAB\xD2\x3C"
                                   "\x71\x05\xBE\x02\x3C\x09\x2A\x37\xD4\x4F\x12\xC9\x4C\xD8\x37\x81\xA5\x2E");
// One GBK entry "localhost|3390|管理员|密码|备注", force login, small screen, password "口令".
const Bytes kGbkFile = Literal("\x90\x59\x57\x8C\x57\x31\x2E\x6F\xFF\x7F\x9A\xB9\x38\xF5\x06\x45\xFF\x8E\xEB\x97"
                               "\xD9\xAF\x76\xFF\x6F\x00\x25\x74\x44\x3C\xAA\x6B\x0F\x54\xC4\x65\x81\xB6\x86\x37"
                               "\x4D\x02\x97\x6D\x00\x1C\x2F\x2C\xCE\x25\x43\xB7\x35\xC1\x47\xD0\xC9\x40\x7E\xEE"
                               "\x97\xCD\xC0\x99\x7B\x0A\xB2\xF0\x22\x47\x03\x96\x90");

struct Parsed {
    std::vector<ServerEntry> entries;
    ConnectionOptions options;
};

Parsed Parse(std::string_view text) {
    ParsedSettings parsed = ParseSettings(FromString(text));
    return {std::move(parsed.servers), parsed.options};
}

TEST(SettingsFileTest, LoadsAndSavesTheHandBuiltFilesByteForByte) {
    TempDir dir(true);
    for (const Bytes& file : {kExampleFile, kGbkFile}) {
        WriteTestFile("ms.ini", file);
        const Bytes settings = LoadSettings();
        const ParsedSettings parsed = ParseSettings(settings);
        ASSERT_TRUE(SaveSettings(parsed.servers, parsed.options, StartupPasswordOf(settings)));
        EXPECT_EQ(ReadWholeFile("ms.ini"), file);
    }

    const Parsed gbk = Parse(TextFromBytes(LoadSettings()));
    ASSERT_EQ(gbk.entries.size(), 1u);
    EXPECT_EQ(gbk.entries[0], (ServerEntry{"localhost", "3390", Gbk::FromUtf8("管理员"), Gbk::FromUtf8("密码"),
                                           Gbk::FromUtf8("备注"), ServerStatus::Unknown}));
    EXPECT_EQ(gbk.options, (ConnectionOptions{true, false}));
    EXPECT_EQ(StartupPasswordOf(LoadSettings()), Gbk::FromUtf8("口令"));
}

TEST(SettingsFileTest, MissingFileGivesNothingAndAFirstSaveWritesTheDefaults) {
    TempDir dir(true);
    EXPECT_TRUE(LoadSettings().empty());
    ASSERT_TRUE(SaveSettings({}, ConnectionOptions{}, ""));
    EXPECT_EQ(TextFromBytes(LoadSettings()), "#Start:1\r\n#LoadinPass:<>\r\n");
    struct stat info {};
    ASSERT_EQ(::stat("ms.ini", &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "the file holds passwords";
}

TEST(SettingsFileTest, SaveThenParseKeepsEntriesWithEmptyFields) {
    const std::vector<ServerEntry> entries{
        {"127.0.0.1", "3389", "Administrator", "", "", ServerStatus::Online},
        {"localhost", "80", "a", "p", "", ServerStatus::Offline},
        {Gbk::FromUtf8("主机"), "", "", Gbk::FromUtf8("口令") + "\x81|", Gbk::FromUtf8("备注"), ServerStatus::Unknown},
    };
    const std::string text = SettingsText(entries, {false, true}, "");
    EXPECT_EQ(text.substr(0, 32), "127.0.0.1|3389|Administrator||\r\n");
    EXPECT_EQ(text.substr(32, 19), "localhost|80|a|p|\r\n");

    const Parsed back = Parse(text);
    ASSERT_EQ(back.entries.size(), 3u);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        ServerEntry expected = entries[i];
        expected.status = ServerStatus::Unknown; // never stored
        EXPECT_EQ(back.entries[i], expected) << i;
    }
}

TEST(SettingsFileTest, ServerLinesNeedThreePieces) {
    const Parsed parsed = Parse("a|b|c\r\nx|y\r\n|q|\r\n1|2|3|4|5|6|7\r\n\r\nonly\r\n");
    ASSERT_EQ(parsed.entries.size(), 2u);
    EXPECT_EQ(parsed.entries[0], (ServerEntry{"a", "b", "c", "", "", ServerStatus::Unknown}));
    // "|q|" is two pieces ("" and "q"): not an entry. Pieces after the fifth are ignored.
    EXPECT_EQ(parsed.entries[1], (ServerEntry{"1", "2", "3", "4", "5", ServerStatus::Unknown}));
}

TEST(SettingsFileTest, OptionLinesTestTheLastByteAndTheFirstMatchingTag) {
    EXPECT_EQ(Parse("#admin:1\r\n").options, (ConnectionOptions{true, true}));
    EXPECT_EQ(Parse("#admin:0\r\n").options, (ConnectionOptions{false, true}));
    EXPECT_EQ(Parse("#admin:1 \r\n").options.forceLogin, false);
    // Nothing unchecks force login once set.
    EXPECT_EQ(Parse("#admin:1\r\n#admin:0\r\n").options.forceLogin, true);
    EXPECT_EQ(Parse("#Start:0\r\n").options.fullScreen, false);
    EXPECT_EQ(Parse("#Start:x\r\n").options.fullScreen, false);
    EXPECT_EQ(Parse("#Start:0\r\n#Start:1\r\n").options.fullScreen, true);
    // The last line wins; a line without CR LF still counts.
    EXPECT_EQ(Parse("#Start:0\r\n#Start:1").options.fullScreen, true);
    // "#onsole:" lines are not option lines, whatever else they hold.
    EXPECT_EQ(Parse("#onsole:#admin:1\r\n#onsole:#Start:0\r\n").options, (ConnectionOptions{false, true}));
    // "#admin:" is tested before "#Start:".
    EXPECT_EQ(Parse("#admin:#Start:0\r\n").options, (ConnectionOptions{false, true}));
    // The defaults stand when the file names no option.
    EXPECT_EQ(Parse("").options, (ConnectionOptions{false, true}));
}

TEST(SettingsFileTest, AZeroByteEndsTheSettingsText) {
    const ParsedSettings parsed = ParseSettings(FromString("a|b|c\r\n#Start:0\0\r\nd|e|f\r\n"s));
    EXPECT_EQ(parsed.servers.size(), 1u);
    EXPECT_FALSE(parsed.options.fullScreen);
    EXPECT_EQ(StartupPasswordOf(FromString("#LoadinPass:<a\0b>"s)), "");
}

TEST(SettingsFileTest, ExtractMarkedCollectsEveryCompletePair) {
    EXPECT_EQ(ExtractMarked("#LoadinPass:<secret>\r\n", kPasswordStart, kPasswordEnd), "secret");
    EXPECT_EQ(ExtractMarked("#LoadinPass:<>", kPasswordStart, kPasswordEnd), "");
    EXPECT_EQ(ExtractMarked("no markers", kPasswordStart, kPasswordEnd), "");
    EXPECT_EQ(ExtractMarked("#LoadinPass:<a>x#LoadinPass:<b>", kPasswordStart, kPasswordEnd), "a||b");
    // A second start without an end after it spoils everything collected so far.
    EXPECT_EQ(ExtractMarked("#LoadinPass:<a>\r\n#LoadinPass:<b", kPasswordStart, kPasswordEnd), "");
    // The end marker is searched from where the start marker begins.
    EXPECT_EQ(ExtractMarked("<<x>", "<", ">"), "<x");
    EXPECT_EQ(ExtractMarked("abc", "", ">"), "");
    EXPECT_EQ(ExtractMarked("a>c", "a", ""), "");
    // A two-byte character whose second byte looks like a marker is passed over.
    EXPECT_EQ(ExtractMarked("#LoadinPass:<\x81|y>", kPasswordStart, kPasswordEnd), "\x81|y");
}

TEST(SettingsFileTest, StoredPasswordsThatWouldNotSurviveAReloadAreRecognised) {
    for (const std::string password : {"", "secret", "a|b", "   ", "16-characters-ok", "\x81|\x81|"}) {
        EXPECT_TRUE(IsStorableStartupPassword(password)) << password;
        // A storable password comes back unchanged and adds no entry or option.
        const std::string text = SettingsText({}, {false, true}, password);
        const Parsed parsed = Parse(text);
        EXPECT_TRUE(parsed.entries.empty()) << password;
        EXPECT_EQ(parsed.options, (ConnectionOptions{false, true})) << password;
        EXPECT_EQ(StartupPasswordOf(FromString(text)), password);
    }
    for (const std::string password : {"a>b", ">", "a|b|c", "||", "x#Start:0"}) {
        EXPECT_FALSE(IsStorableStartupPassword(password)) << password;
    }
}

TEST(SettingsFileTest, AFileThatCouldNotBeReadOrWrittenIsNeverSavedOver) {
    TempDir dir;
    const DataDirectories here{dir.Path(), dir.Path()};
    const std::string path = dir.File("ms.ini");

    // Missing: saved where it belongs, and a killed save's leftovers are cleared on the way.
    WriteTestFile(dir.File("ms.ini.saving-k1ll3d"), {'p'});
    LoadedSettings loaded = LoadSettings(here);
    EXPECT_EQ(loaded.block, SettingsSaveBlock::None);
    EXPECT_EQ(loaded.savePath, path);
    EXPECT_FALSE(std::filesystem::exists(dir.File("ms.ini.saving-k1ll3d")));

    // A FIFO and a file over the size limit are not read, and so not replaced.
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    loaded = LoadSettings(here);
    EXPECT_EQ(loaded.block, SettingsSaveBlock::Unreadable);
    EXPECT_TRUE(loaded.savePath.empty());
    ::unlink(path.c_str());
    WriteTestFile(path, {});
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kReadLimit) + 1), 0);
    EXPECT_EQ(LoadSettings(here).block, SettingsSaveBlock::Unreadable);

    // Unreadable and read-only files, for an ordinary user.
    WriteTestFile(path, Rc4Crypt(BytesFromText("a|1|b||\r\n#LoadinPass:<pw>\r\n"), kSettingsKey));
    GiveToOrdinaryUser(dir.Path());
    const auto blockAs = [&](mode_t mode) {
        ::chmod(path.c_str(), mode);
        return RunAsOrdinaryUser([&] {
            const LoadedSettings seen = LoadSettings(here);
            return seen.savePath.empty() ? static_cast<int>(seen.block) : 99;
        });
    };
    EXPECT_EQ(blockAs(0), static_cast<int>(SettingsSaveBlock::Unreadable));
    EXPECT_EQ(blockAs(0444), static_cast<int>(SettingsSaveBlock::ReadOnly));

    // Nowhere to save: the program's file is still read for its password.
    loaded = LoadSettings(DataDirectories{dir.Path(), ""});
    EXPECT_EQ(loaded.block, SettingsSaveBlock::NoDirectory);
    EXPECT_EQ(StartupPasswordOf(loaded.bytes), "pw");
}

} // namespace
