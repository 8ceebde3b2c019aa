#include "Win32TestSupport.h"
#include "runtime/FatalError.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/ProgramDirectory.h"
#include "runtime/WideTextWin32.h"
#include "servers/RdpFile.h"
#include "settings/SettingsFile.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace {

// How a read ended, as the program's callers tell it apart.
enum class ReadEnd { Read, Missing, Unreadable };
ReadEnd EndOf(const FileRead& read) {
    return read ? ReadEnd::Read : IsMissing(read) ? ReadEnd::Missing : ReadEnd::Unreadable;
}

TEST(Win32Gbk, StoredTextsSurviveCodePage936BothWays) {
    // A server note, a bookmark name, the settings' own markers and characters whose second byte is "|" or "\".
    for (const char* utf8 : {"连接系统 192.168.1.10:3389 备注", "请输入名称……", "#LoadinPass:<密码>", "丂亐", "表格",
                             "ｆｕｌｌ　ｗｉｄｔｈ"}) {
        const std::optional<std::string> gbk = Gbk::TryFromUtf8(utf8);
        ASSERT_TRUE(gbk) << utf8;
        EXPECT_EQ(Gbk::TryToUtf8(*gbk), std::optional<std::string>(utf8));
    }
    EXPECT_EQ(Gbk::TryFromUtf8("名"), std::optional<std::string>("\xC3\xFB"));
    EXPECT_EQ(Gbk::TryFromUtf8("\xE4\xB8\x82"), std::optional<std::string>("\x81\x40"));
}

TEST(Win32Gbk, CharactersGbkLacksAreRefusedNotReplaced) {
    // The system would put "?" or a look-alike in their place without a word.
    EXPECT_EQ(Gbk::TryFromUtf8("a😀"), std::nullopt);
    EXPECT_EQ(Gbk::TryFromUtf8("5€"), std::nullopt);
    EXPECT_EQ(Gbk::TryFromUtf8("한"), std::nullopt);
    EXPECT_EQ(Gbk::TryFromUtf8("\xC3"), std::nullopt); // cut UTF-8
    EXPECT_EQ(Gbk::TryToUtf8("a\x81"), std::nullopt);  // cut GBK character
    EXPECT_EQ(Gbk::TryToUtf8("\x80"), std::nullopt);
    EXPECT_EQ(Gbk::ToUtf8("a\xFF"
                          "b"),
              "a\xEF\xBF\xBD"
              "b");
}

TEST(Win32Gbk, PasswordPlaintextIsTheUtf16OfCodePage936) {
    const Bytes plain = PasswordPlaintext(Gbk::FromUtf8("密码a"));
    ASSERT_EQ(plain.size(), 512u);
    const Bytes expected{0xC6, 0x5B, 0x01, 0x78, 'a', 0, 0, 0};
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), plain.begin()));
    // Longer than 255 units: the first 512 bytes, no terminator.
    const Bytes full = PasswordPlaintext(std::string(300, 'x'));
    ASSERT_EQ(full.size(), 512u);
    EXPECT_EQ(full[510], 'x');
}

class Win32Files : public ::testing::Test {
protected:
    std::string Path(const std::string& name) const { return dir_.Path() + "\\" + name; }
    std::size_t Entries() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}));
    }
    TempDir dir_;
};

TEST_F(Win32Files, ReplaceWritesTheWholeFileAndLeavesNoTemporary) {
    const std::string path = Path("ms.ini");
    ASSERT_TRUE(ReplaceFileAtomically(path, BytesFromText("old"), 0600));
    ASSERT_TRUE(ReplaceFileAtomically(path, BytesFromText("new"), 0600));
    const FileRead read = ReadFile(path);
    EXPECT_EQ(EndOf(read), ReadEnd::Read);
    EXPECT_EQ(read.value(), BytesFromText("new"));
    EXPECT_EQ(Entries(), 1u);
    EXPECT_EQ(EndOf(ReadFile(Path("missing"))), ReadEnd::Missing);
    EXPECT_EQ(EndOf(ReadFile(dir_.Path())), ReadEnd::Unreadable);
}

TEST_F(Win32Files, AFailedReplaceCarriesTheSystemsReason) {
    const Result<void> missing = ReplaceFileAtomically(Path("no\\such\\dir\\ms.ini"), BytesFromText("new"), 0600);
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.Reason(), std::error_code(ERROR_PATH_NOT_FOUND, std::system_category()));
}

TEST_F(Win32Files, AFileThatCannotBeReadOrWrittenIsNeverReplaced) {
    const std::string path = Path("ms.ini");
    WriteTestFile(path, BytesFromText("kept"));
    const DataDirectories here{dir_.Path(), dir_.Path()};

    // Held open by another program that lets nobody read it: the settings are not saved over it.
    {
        const HANDLE holder = ::CreateFileW(Win32::WideFromUtf8(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(holder, INVALID_HANDLE_VALUE);
        const LoadedSettings loaded = LoadSettings(here);
        ::CloseHandle(holder);
        EXPECT_EQ(loaded.block, SettingsSaveBlock::Unreadable);
        EXPECT_TRUE(loaded.savePath.empty());
    }

    // Read-only: neither the settings nor the runtime replace it.
    ASSERT_TRUE(::SetFileAttributesW(Win32::WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(LoadSettings(here).block, SettingsSaveBlock::ReadOnly);
    EXPECT_FALSE(MayReplace(path));
    EXPECT_FALSE(ReplaceFileAtomically(path, BytesFromText("lost"), 0600));
    ::SetFileAttributesW(Win32::WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFile(path).value(), BytesFromText("kept"));
    EXPECT_EQ(Entries(), 1u);
}

TEST_F(Win32Files, AKilledSaveLeavesTheOldFileWholeAndItsTemporaryIsCleared) {
    const std::string path = Path("ms.ini");
    constexpr std::size_t kSize = 4 << 20;
    ASSERT_TRUE(ReplaceFileAtomically(path, Bytes(kSize, 'a'), 0600));
    for (const DWORD killAfter : {0, 7, 20}) {
        const HANDLE child = StartChild(BesideTest("tolvar_win32_child.exe"), {"save", path, std::to_string(kSize)});
        ASSERT_NE(child, nullptr);
        for (int waited = 0; waited < 400 && !std::filesystem::exists(path + "-saving"); ++waited) {
            ::Sleep(25);
        }
        ASSERT_TRUE(std::filesystem::remove(path + "-saving"));
        ::Sleep(killAfter);
        ::TerminateProcess(child, 9);
        ::WaitForSingleObject(child, 5000);
        ::CloseHandle(child);
        const FileRead read = ReadFile(path);
        ASSERT_EQ(read.value().size(), kSize);
        EXPECT_TRUE(read.value() == Bytes(kSize, 'a') || read.value() == Bytes(kSize, 'b'));
    }
    // The next save clears what the killed ones left behind, but not a name a user chose.
    WriteTestFile(Path("ms.ini.backup"), BytesFromText("mine"));
    ASSERT_TRUE(ReplaceFileAtomically(path, BytesFromText("done"), 0600));
    EXPECT_EQ(Entries(), 2u);
    EXPECT_EQ(ReadFile(Path("ms.ini.backup")).value(), BytesFromText("mine"));
}

TEST_F(Win32Files, SaveThroughALinkReplacesTheFileItNames) {
    const std::string target = Path("real.ini");
    WriteTestFile(target, BytesFromText("old"));
    std::error_code failed;
    std::filesystem::create_symlink(target, Path("ms.ini"), failed);
    if (failed || !std::filesystem::is_symlink(Path("ms.ini"))) {
        GTEST_SKIP() << "no symbolic links here: " << failed.message();
    }
    ASSERT_TRUE(ReplaceFileAtomically(Path("ms.ini"), BytesFromText("new"), 0600));
    EXPECT_EQ(ReadFile(target).value(), BytesFromText("new"));
    EXPECT_TRUE(std::filesystem::is_symlink(Path("ms.ini")));
}

TEST_F(Win32Files, ProgramDirectoryAndTheUserDirectoryInItsPlace) {
    EXPECT_TRUE(std::filesystem::exists(BesideTest("tolvar_win32_child.exe")));
    const DataDirectories writable = LocateDataDirectories(dir_.Path());
    EXPECT_EQ(writable.save, dir_.Path());
    EXPECT_EQ(Entries(), 0u); // the check of the directory leaves nothing behind

    SetVariable("LOCALAPPDATA", dir_.Path());
    const DataDirectories fallback = LocateDataDirectories(dir_.Path() + "\\not-there");
    EXPECT_EQ(fallback.save, dir_.Path() + "\\Tolvar");
    EXPECT_TRUE(std::filesystem::is_directory(fallback.save));
    // A list beside the program is read until the user's directory has its own.
    const DataDirectories beside{dir_.Path(), fallback.save};
    EXPECT_EQ(beside.ReadPath("ms.ini"), dir_.Path() + "\\ms.ini");
    WriteTestFile(fallback.save + "\\ms.ini", BytesFromText("x"));
    EXPECT_EQ(beside.ReadPath("ms.ini"), fallback.save + "\\ms.ini");

    // Installed under Program Files, the program keeps its files in the user's directory even where it could
    // write beside itself, as an administrator can.
    SetVariable("ProgramFiles", dir_.Path());
    std::filesystem::create_directory(dir_.Path() + "\\Tolvar App");
    EXPECT_EQ(LocateDataDirectories(dir_.Path() + "\\Tolvar App").save, fallback.save);
}

TEST(Win32FatalErrorDeathTest, EndsTheProcessWithExitCodeMinusOne) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(FatalError(5, Gbk::FromUtf8("数据或数组类型不匹配")), ::testing::ExitedWithCode(-1), "");
}

} // namespace
