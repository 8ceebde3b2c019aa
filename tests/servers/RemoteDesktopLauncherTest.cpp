#include "servers/RemoteDesktopLauncher.h"
#include "StandInClient.h"
#include "runtime/DataProtection.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/UserRegistry.h"
#include "servers/RdpFile.h"

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

// Every launch gets its own temporary, data and config directories, so nothing of the user's is touched.
class RemoteDesktopLauncherTest : public ::testing::Test {
protected:
    RemoteDesktopLauncherTest()
        : tmp_("TMPDIR", home_.File("tmp"))
        , data_("XDG_DATA_HOME", home_.File("data"))
        , config_("XDG_CONFIG_HOME", home_.File("config")) {
        for (const char* name : {"tmp", "data", "config"}) {
            std::filesystem::create_directory(home_.File(name));
        }
    }

    static ServerEntry Entry(const std::string& host, const std::string& password = {}) {
        ServerEntry entry;
        entry.host = host;
        entry.port = "3389";
        entry.account = "Administrator";
        entry.password = password;
        return entry;
    }

    std::size_t TemporaryFiles() const {
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(home_.File("tmp")), {}));
    }

    TempDir home_;
    ScopedEnv tmp_;
    ScopedEnv data_;
    ScopedEnv config_;
};

TEST_F(RemoteDesktopLauncherTest, StartsTheClientWithTheFileAndOptions) {
    StandInClient client;
    const ServerEntry entry = Entry("192.168.1.10");
    const LaunchResult result = LaunchRemoteDesktop(entry, {false, true}, false);
    ASSERT_EQ(result.outcome, LaunchOutcome::Started);

    EXPECT_EQ(std::filesystem::path(result.connectionFile).parent_path(), home_.File("tmp"));
    // The client reads a connection file only under this ending.
    EXPECT_TRUE(result.connectionFile.ends_with(".tmp.rdp")) << result.connectionFile;
    EXPECT_EQ(result.commandLine, "mstsc.exe " + result.connectionFile + " /f ");
    struct stat info {};
    ASSERT_EQ(::stat(result.connectionFile.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u) << "the file may hold a password";

    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->arguments, (std::vector<std::string>{result.connectionFile, "/f", "/cert:tofu"}));
    EXPECT_EQ(run->input, "");
    EXPECT_EQ(run->file, ConnectionFileText(entry, false, ""));
}

TEST_F(RemoteDesktopLauncherTest, PasswordReachesTheClientOnlyOnItsInput) {
    StandInClient client;
    const std::string password = Gbk::FromUtf8("s3cret 密码");
    const LaunchResult result = LaunchRemoteDesktop(Entry("10.1.2.3", password), {true, false}, true);
    ASSERT_EQ(result.outcome, LaunchOutcome::Started);
    EXPECT_EQ(result.commandLine, "mstsc.exe " + result.connectionFile + " /admin /w:800 /h:600 ");

    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->arguments, (std::vector<std::string>{result.connectionFile, "/admin", "/w:800", "/h:600",
                                                        "/cert:tofu", "/from-stdin:force"}));
    EXPECT_EQ(run->input, "s3cret 密码\n");
    for (const std::string& argument : run->arguments) {
        EXPECT_EQ(argument.find("s3cret"), std::string::npos) << argument;
    }
    EXPECT_EQ(run->environment.find("s3cret"), std::string::npos);

    // The file's blob opens under the user's key to the password laid out for protection.
    const auto lines = Gbk::Split(run->file, "\r\n");
    ASSERT_EQ(lines.size(), 45u);
    const std::string prefix = "password 51:b:";
    ASSERT_EQ(lines[18].substr(0, prefix.size()), prefix);
    const std::string_view blob = lines[18].substr(prefix.size());
    ASSERT_EQ(blob.size() % 2, 1u);
    ASSERT_EQ(blob.back(), '0');
    Bytes sealed;
    for (std::size_t i = 0; i + 1 < blob.size(); i += 2) {
        sealed.push_back(static_cast<unsigned char>(std::stoi(std::string(blob.substr(i, 2)), nullptr, 16)));
    }
    std::string description;
    EXPECT_EQ(UnprotectData(sealed, &description), PasswordPlaintext(password));
    EXPECT_EQ(description, "psw");
    EXPECT_EQ(lines[12], "redirectsmartcards:i:0");
}

TEST_F(RemoteDesktopLauncherTest, SecondConnectKeepsTheRegistryValueAndTakesANewFile) {
    StandInClient client;
    const LaunchResult first = LaunchRemoteDesktop(Entry("srv1"), {}, false);
    EXPECT_EQ(RegistryQueryDword(kLocalDevicesKey, "srv1"), 76u);
    // A value the user changed afterwards must survive the next connect.
    ASSERT_TRUE(RegistrySetDword(kLocalDevicesKey, "srv1", 3));
    const LaunchResult second = LaunchRemoteDesktop(Entry("SRV1"), {}, false);
    EXPECT_EQ(RegistryQueryDword(kLocalDevicesKey, "srv1"), 3u);

    EXPECT_NE(first.connectionFile, second.connectionFile);
    EXPECT_EQ(TemporaryFiles(), 2u);
    EXPECT_TRUE(client.WaitForRun());
    EXPECT_TRUE(client.WaitForRun());
}

TEST_F(RemoteDesktopLauncherTest, TakenNamesAreSkippedAndKept) {
    StandInClient client;
    // Every name the next few seconds of ticks could give is already taken.
    const auto now =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch());
    const auto first = static_cast<std::uint32_t>(now.count());
    constexpr std::uint32_t kTaken = 3000;
    for (std::uint32_t n = first; n < first + kTaken; ++n) {
        WriteTestFile(home_.File("tmp/" + TemporaryFileName(n) + ".rdp"), BytesFromText("old"));
    }
    const LaunchResult result = LaunchRemoteDesktop(Entry("h"), {}, false);
    EXPECT_EQ(result.outcome, LaunchOutcome::Started);
    EXPECT_EQ(TemporaryFiles(), kTaken + 1);
    EXPECT_EQ(ReadWholeFile(home_.File("tmp/" + TemporaryFileName(first) + ".rdp")), BytesFromText("old"));
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->file, ConnectionFileText(Entry("h"), false, ""));
}

TEST_F(RemoteDesktopLauncherTest, PathWithABlankStaysOneArgument) {
    const std::string spaced = home_.File("tmp/with blank");
    std::filesystem::create_directory(spaced);
    ScopedEnv tmp("TMPDIR", spaced);
    StandInClient client;
    const LaunchResult result = LaunchRemoteDesktop(Entry("h"), {}, false);
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    ASSERT_FALSE(run->arguments.empty());
    EXPECT_EQ(run->arguments[0], result.connectionFile);
    EXPECT_EQ(run->file, ConnectionFileText(Entry("h"), false, ""));
}

TEST_F(RemoteDesktopLauncherTest, PrefersTheNewerClient) {
    StandInClient client({"xfreerdp", "xfreerdp3"});
    LaunchRemoteDesktop(Entry("h"), {}, false);
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(run->name, "xfreerdp3");
}

TEST_F(RemoteDesktopLauncherTest, NoClientLeavesNothingBehind) {
    ScopedEnv path("PATH", home_.File("tmp"));
    const LaunchResult result = LaunchRemoteDesktop(Entry("h", "pw"), {}, false);
    EXPECT_EQ(result.outcome, LaunchOutcome::NoClient);
    EXPECT_EQ(TemporaryFiles(), 0u);
    EXPECT_FALSE(RegistryQueryDword(kLocalDevicesKey, "h"));
}

TEST_F(RemoteDesktopLauncherTest, UnusableKeyStillConnectsWithAnEmptyBlob) {
    StandInClient client;
    // A key file others can read is no secret; protection fails, and the connect goes on without it.
    const std::string key = DataProtectionKeyPath();
    ASSERT_FALSE(key.empty());
    WriteTestFile(key, Bytes(32, 7));
    ::chmod(key.c_str(), 0644);
    const LaunchResult result = LaunchRemoteDesktop(Entry("h", "pw"), {}, false);
    EXPECT_EQ(result.outcome, LaunchOutcome::Started);
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    EXPECT_EQ(Gbk::Split(run->file, "\r\n").at(18), "password 51:b:0");
    EXPECT_EQ(run->input, "pw\n");
}

} // namespace
