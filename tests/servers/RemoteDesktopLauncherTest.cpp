#include "servers/RemoteDesktopLauncher.h"
#include "StandInClient.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/UserRegistry.h"
#include "servers/ClientEnd.h"
#include "servers/RdpFile.h"

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
        , config_("XDG_CONFIG_HOME", home_.File("config"))
        , runtime_("XDG_RUNTIME_DIR", home_.File("run")) {
        for (const char* name : {"tmp", "data", "config", "run"}) {
            std::filesystem::create_directory(home_.File(name));
            ::chmod(home_.File(name).c_str(), 0700);
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

    std::size_t FilesIn(const std::string& name) const {
        if (!std::filesystem::exists(home_.File(name))) {
            return 0;
        }
        return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(home_.File(name)), {}));
    }
    std::size_t ConnectionFiles() const { return FilesIn("run/tolvar"); }

    // The file as the client read it, back in the program's own GBK.
    static std::string GbkFile(const StandInClient::Run& run) { return Gbk::FromUtf8(run.Utf8File()); }

    TempDir home_;
    ScopedEnv tmp_;
    ScopedEnv data_;
    ScopedEnv config_;
    ScopedEnv runtime_;
};

TEST_F(RemoteDesktopLauncherTest, StartsTheClientWithTheFileAndOptions) {
    StandInClient client;
    const ServerEntry entry = Entry("192.168.1.10");
    const LaunchResult result = LaunchRemoteDesktop(entry, {false, true}, false);
    ASSERT_EQ(result.outcome, LaunchOutcome::Started);

    // Never the shared temporary directory, where others can guess and take names.
    EXPECT_EQ(std::filesystem::path(result.connectionFile).parent_path(), home_.File("run/tolvar"));
    EXPECT_EQ(FilesIn("tmp"), 0u);
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
    EXPECT_EQ(GbkFile(*run), ConnectionFileText(entry, false, ""));
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

    // The password line keeps its place but carries no secret for the client to log.
    const std::string file = GbkFile(*run);
    const auto lines = Gbk::Split(file, "\r\n");
    ASSERT_EQ(lines.size(), 45u);
    // FreeRDP lets this line win over the window size of its command line.
    EXPECT_EQ(lines[0], "screen mode id:i:1");
    EXPECT_EQ(lines[18], "password 51:b:0");
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
    EXPECT_EQ(ConnectionFiles(), 2u);
    EXPECT_TRUE(client.WaitForRun());
    EXPECT_TRUE(client.WaitForRun());
}

TEST_F(RemoteDesktopLauncherTest, DirectoriesOthersCanWriteAreNeverUsed) {
    StandInClient client;
    // A runtime directory open to others: the per-user data directory's own folder is used instead.
    ::chmod(home_.File("run").c_str(), 0777);
    const LaunchResult fallback = LaunchRemoteDesktop(Entry("h"), {}, false);
    ASSERT_EQ(fallback.outcome, LaunchOutcome::Started);
    EXPECT_EQ(std::filesystem::path(fallback.connectionFile).parent_path(), home_.File("data/tolvar/connections"));
    ASSERT_TRUE(client.WaitForRun());

    // Our own folder in it, made writable by others: neither place is safe, so nothing starts.
    ::chmod(home_.File("run").c_str(), 0700);
    std::filesystem::create_directory(home_.File("run/tolvar"));
    ::chmod(home_.File("run/tolvar").c_str(), 0773);
    ::chmod(home_.File("data/tolvar/connections").c_str(), 0770);
    const LaunchResult refused = LaunchRemoteDesktop(Entry("h", "pw"), {}, false);
    EXPECT_EQ(refused.outcome, LaunchOutcome::NoFile);
    EXPECT_TRUE(refused.connectionFile.empty());
    EXPECT_EQ(ConnectionFiles(), 0u);
    EXPECT_EQ(FilesIn("data/tolvar/connections"), 1u);
    EXPECT_EQ(client.Started(), 1);
}

TEST_F(RemoteDesktopLauncherTest, LineBreaksAndZeroBytesNeverReachTheFile) {
    StandInClient client;
    const std::pair<std::string ServerEntry::*, ConnectionField> fields[] = {
        {&ServerEntry::host, ConnectionField::Host},
        {&ServerEntry::port, ConnectionField::Port},
        {&ServerEntry::account, ConnectionField::Account},
        {&ServerEntry::password, ConnectionField::Password},
    };
    for (const auto& [member, field] : fields) {
        for (const std::string& bad :
             {std::string("\nfull address:s:127.0.0.2:3390"), std::string("a\rb"), std::string("a\0b", 3)}) {
            ServerEntry entry = Entry("127.0.0.1", "pw");
            entry.*member += bad;
            const LaunchResult result = LaunchRemoteDesktop(entry, {}, false);
            EXPECT_EQ(result.outcome, LaunchOutcome::UnsafeValue);
            EXPECT_EQ(result.unsafeField, field);
        }
    }
    EXPECT_EQ(ConnectionFiles(), 0u);
    EXPECT_FALSE(RegistryQueryDword(kLocalDevicesKey, "127.0.0.1"));
    EXPECT_EQ(client.Started(), 0);
}

TEST_F(RemoteDesktopLauncherTest, ChineseAccountReachesTheClientIntact) {
    StandInClient client;
    ServerEntry entry = Entry("127.0.0.1");
    entry.account = Gbk::FromUtf8("管理员");
    ASSERT_EQ(LaunchRemoteDesktop(entry, {}, false).outcome, LaunchOutcome::Started);
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    const std::string text = run->Utf8File();
    EXPECT_NE(text.find("\r\nusername:s:管理员\r\n"), std::string::npos) << text;
}

TEST_F(RemoteDesktopLauncherTest, PathWithABlankStaysOneArgument) {
    const std::string spaced = home_.File("run/with blank");
    std::filesystem::create_directory(spaced);
    ::chmod(spaced.c_str(), 0700);
    ScopedEnv runtime("XDG_RUNTIME_DIR", spaced);
    StandInClient client;
    const LaunchResult result = LaunchRemoteDesktop(Entry("h"), {}, false);
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    ASSERT_FALSE(run->arguments.empty());
    EXPECT_EQ(run->arguments[0], result.connectionFile);
    EXPECT_EQ(GbkFile(*run), ConnectionFileText(Entry("h"), false, ""));
}

TEST_F(RemoteDesktopLauncherTest, AnIpv6HostIsWrittenInBracketsAndRecordedBare) {
    StandInClient client;
    const LaunchResult result = LaunchRemoteDesktop(Entry("::1"), {}, false);
    ASSERT_EQ(result.outcome, LaunchOutcome::Started);
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    EXPECT_NE(run->Utf8File().find("\r\nfull address:s:[::1]:3389\r\n"), std::string::npos) << run->Utf8File();
    // The address again where FreeRDP 2 reads brackets.
    EXPECT_EQ(run->arguments,
              (std::vector<std::string>{result.connectionFile, "/v:[::1]", "/port:3389", "/f", "/cert:tofu"}));
    EXPECT_EQ(RegistryQueryDword(kLocalDevicesKey, "::1"), 76u);

    // Any other host is left to the file.
    LaunchRemoteDesktop(Entry("10.1.2.3"), {}, false);
    const auto other = client.WaitForRun();
    ASSERT_TRUE(other);
    EXPECT_EQ(other->arguments.size(), 3u);
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
    EXPECT_EQ(ConnectionFiles(), 0u);
    EXPECT_FALSE(RegistryQueryDword(kLocalDevicesKey, "h"));
}

} // namespace

TEST(ClientEndTest, OnlyAnEarlyFailureIsTold) {
    using namespace std::chrono_literals;
    EXPECT_EQ(ClientFailureOf({true, 154}, 2s), ClientFailure::WrongCredentials);
    // After its first minute the client ran a session; whatever ended it was the user's own business.
    EXPECT_EQ(ClientFailureOf({true, 154}, kClientStartWindow), ClientFailure::None);
    EXPECT_EQ(ClientFailureOf({true, 0}, 1s), ClientFailure::None);
    EXPECT_EQ(ClientFailureOf({true, 11}, 1s), ClientFailure::None);
    EXPECT_EQ(ClientFailureOf({false, 15}, 1s), ClientFailure::None);
    EXPECT_EQ(ClientFailureOf({false, 11}, 1s), ClientFailure::Other);
}
