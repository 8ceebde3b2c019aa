#include "Win32TestSupport.h"
#include "runtime/DataProtection.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/UserRegistry.h"
#include "runtime/WideTextWin32.h"
#include "servers/RdpFile.h"
#include "servers/RemoteDesktopLauncher.h"
#include "support/TempDir.h"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>

namespace {

// The stand-in mstsc.exe lies beside the test program, where CreateProcess looks first.
class Win32Launcher : public ::testing::Test {
protected:
    Win32Launcher() { SetVariable("TOLVAR_STANDIN_RECORD", Record()); }

    std::string Record() const { return dir_.Path() + "\\command-line"; }

    // The command line the stand-in was started with, once it has written it, and the arguments it read
    // from it.
    std::string LaunchAndRecord(const ServerEntry& entry, const ConnectionOptions& options, LaunchResult& result,
                                std::vector<std::string>* arguments = nullptr) {
        std::filesystem::remove(Record());
        result = LaunchRemoteDesktop(entry, options, false);
        for (int waited = 0; waited < 200 && !std::filesystem::exists(Record()); ++waited) {
            ::Sleep(50);
        }
        const Bytes bytes = ReadWholeFile(Record());
        const std::wstring wide(reinterpret_cast<const wchar_t*>(bytes.data()), bytes.size() / sizeof(wchar_t));
        std::vector<std::string> lines;
        for (std::size_t start = 0;;) {
            const std::size_t end = wide.find(L'\n', start);
            lines.push_back(Win32::Utf8FromWide(wide.substr(start, end - start)));
            if (end == std::wstring::npos) {
                break;
            }
            start = end + 1;
        }
        if (arguments != nullptr) {
            arguments->assign(lines.begin() + 1, lines.end());
        }
        return lines.front();
    }

    static ServerEntry Entry(const std::string& host, const std::string& password = {}) {
        return ServerEntry{host, "3389", "Administrator", password, {}, ServerStatus::Unknown};
    }

    static void DeleteValue(const std::string& host) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, Win32::WideFromGbk(kLocalDevicesKey).c_str(), 0, KEY_SET_VALUE, &key) ==
            ERROR_SUCCESS) {
            ::RegDeleteValueW(key, Win32::WideFromGbk(host).c_str());
            ::RegCloseKey(key);
        }
    }

    TempDir dir_;
};

TEST_F(Win32Launcher, CommandLineIsByteForByteTheClientsForEveryOptionPair) {
    ASSERT_TRUE(std::filesystem::exists(BesideTest("mstsc.exe")));
    const struct {
        bool forceLogin;
        bool fullScreen;
        const char* options;
    } cases[] = {{false, true, "/f "},
                 {false, false, "/w:800 /h:600 "},
                 {true, true, "/admin /f "},
                 {true, false, "/admin /w:800 /h:600 "}};
    std::string previousFile;
    for (const auto& c : cases) {
        LaunchResult result;
        const std::string line = LaunchAndRecord(Entry("127.0.0.1"), {c.forceLogin, c.fullScreen}, result);
        EXPECT_EQ(result.outcome, LaunchOutcome::Started);
        EXPECT_EQ(line, "mstsc.exe " + result.connectionFile + " " + c.options);
        // A fresh "<hex>.tmp" in the temporary directory each time.
        const std::string name = std::filesystem::path(result.connectionFile).filename().string();
        EXPECT_TRUE(name.ends_with(".tmp")) << name;
        EXPECT_NE(result.connectionFile, previousFile);
        previousFile = result.connectionFile;
        const Bytes text = ReadWholeFile(result.connectionFile);
        EXPECT_EQ(text, BytesFromText(ConnectionFileText(Entry("127.0.0.1"), false, {})));
        std::filesystem::remove(result.connectionFile);
    }
}

// Points a variable of the process elsewhere while the object lives.
class ScopedVariable {
public:
    ScopedVariable(const wchar_t* name, const std::wstring& value)
        : name_(name) {
        std::wstring old(32768, L'\0');
        const DWORD length = ::GetEnvironmentVariableW(name, old.data(), static_cast<DWORD>(old.size()));
        if (length > 0 && length < old.size()) {
            old_ = old.substr(0, length);
        }
        ::SetEnvironmentVariableW(name, value.c_str());
    }
    ~ScopedVariable() { ::SetEnvironmentVariableW(name_, old_ ? old_->c_str() : nullptr); }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const wchar_t* name_;
    std::optional<std::wstring> old_;
};

// The user's temporary directory lies in the profile, whose name may hold blanks and Chinese characters.
TEST_F(Win32Launcher, ATemporaryDirectoryWithABlankStillReachesTheClientAsOneFile) {
    for (const std::string& folder : {std::string("John Smith"), std::string("游戏 管理员"), std::string("管理员")}) {
        const std::filesystem::path temp =
            std::filesystem::path(Win32::WideFromUtf8(dir_.Path())).make_preferred() / Win32::WideFromUtf8(folder);
        ASSERT_TRUE(std::filesystem::create_directory(temp)) << folder;
        const ScopedVariable tmp(L"TMP", temp.wstring());
        const ScopedVariable tempVariable(L"TEMP", temp.wstring());
        LaunchResult result;
        std::vector<std::string> arguments;
        const std::string line = LaunchAndRecord(Entry("127.0.0.5"), {false, false}, result, &arguments);
        ASSERT_EQ(result.outcome, LaunchOutcome::Started) << folder;
        const std::filesystem::path file(Win32::WideFromUtf8(result.connectionFile));
        EXPECT_EQ(file.parent_path(), temp);
        const bool blank = folder.find(' ') != std::string::npos;
        // A path without a blank stays exactly as it always was: unquoted.
        const std::string path = blank ? '"' + result.connectionFile + '"' : result.connectionFile;
        EXPECT_EQ(line, "mstsc.exe " + path + " /w:800 /h:600 ") << folder;
        ASSERT_EQ(arguments.size(), 4u) << line;
        EXPECT_EQ(arguments[1], result.connectionFile);
        EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(Win32::WideFromUtf8(arguments[1]))));
        EXPECT_EQ(arguments[2], "/w:800");
        std::filesystem::remove(file);
    }
}

TEST(Win32LauncherTexts, NameTheWindowsClientAndPlaces) {
    for (const std::string& text : {NoClientText(), NoFileText(), TrustedCertificatesPlace("mstsc.exe")}) {
        for (const char* word : {"freerdp", "XDG", "~/", ".local", "软件包"}) {
            EXPECT_EQ(text.find(word), std::string::npos) << text;
        }
    }
    EXPECT_NE(NoClientText().find("mstsc.exe"), std::string::npos);
    EXPECT_NE(NoFileText().find("%TEMP%"), std::string::npos);
}

TEST_F(Win32Launcher, PasswordBlobOpensWithTheSystemToThe512BytesAndItsDescription) {
    const std::string password = Gbk::FromUtf8("密码Pa55");
    LaunchResult result;
    LaunchAndRecord(Entry("127.0.0.2", password), {}, result);
    const std::string text = TextFromBytes(ReadWholeFile(result.connectionFile));
    std::filesystem::remove(result.connectionFile);
    const std::string prefix = "\r\npassword 51:b:";
    const std::size_t at = text.find(prefix);
    ASSERT_NE(at, std::string::npos);
    const std::string blob = text.substr(at + prefix.size(), text.find("\r\n", at + 2) - at - prefix.size());
    // Upper-case hex, two digits a byte, then one "0".
    ASSERT_EQ(blob.size() % 2, 1u);
    ASSERT_EQ(blob.back(), '0');
    Bytes sealed;
    for (std::size_t i = 0; i + 1 < blob.size(); i += 2) {
        ASSERT_TRUE(std::isxdigit(static_cast<unsigned char>(blob[i])) && !std::islower(blob[i]));
        sealed.push_back(static_cast<unsigned char>(std::stoi(blob.substr(i, 2), nullptr, 16)));
    }
    std::string description;
    const std::optional<Bytes> plain = UnprotectData(sealed, &description);
    ASSERT_TRUE(plain);
    EXPECT_EQ(description, "psw");
    EXPECT_EQ(*plain, PasswordPlaintext(password));
}

TEST_F(Win32Launcher, DeviceValueIsWrittenOnceAndAnExistingOneIsLeftAlone) {
    DeleteValue("127.0.0.3");
    DeleteValue("127.0.0.4");
    LaunchResult result;
    LaunchAndRecord(Entry("127.0.0.3"), {}, result);
    EXPECT_EQ(RegistryQueryDword(kLocalDevicesKey, "127.0.0.3"), std::optional<std::uint32_t>(76));
    // The user's own choice for a host survives every connect.
    ASSERT_TRUE(RegistrySetDword(kLocalDevicesKey, "127.0.0.3", 5));
    LaunchAndRecord(Entry("127.0.0.3"), {}, result);
    EXPECT_EQ(RegistryQueryDword(kLocalDevicesKey, "127.0.0.3"), std::optional<std::uint32_t>(5));
    EXPECT_EQ(RegistryQueryDword(kLocalDevicesKey, "127.0.0.4"), std::nullopt);
    // The value sits in the system's registry, where the client looks.
    DWORD value = 0;
    DWORD size = sizeof value;
    EXPECT_EQ(::RegGetValueW(HKEY_CURRENT_USER, Win32::WideFromGbk(kLocalDevicesKey).c_str(), L"127.0.0.3",
                             RRF_RT_REG_DWORD, nullptr, &value, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(value, 5u);
}

} // namespace
