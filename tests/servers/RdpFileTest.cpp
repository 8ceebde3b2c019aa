#include "servers/RdpFile.h"
#include "runtime/Gbk.h"

#include <gtest/gtest.h>

namespace {

std::vector<std::string> LinesOf(const std::string& text) {
    std::vector<std::string> lines;
    for (const auto piece : Gbk::Split(text, "\r\n")) {
        lines.emplace_back(piece);
    }
    return lines;
}

ServerEntry Entry(const std::string& host, const std::string& port, const std::string& account,
                  const std::string& password = {}) {
    ServerEntry entry;
    entry.host = host;
    entry.port = port;
    entry.account = account;
    entry.password = password;
    return entry;
}

TEST(RdpFileTest, FileWithoutPasswordOrDisksIsExact) {
    const std::string expected = Gbk::FromUtf8("screen mode id:i:2\r\n"
                                               "desktopwidth:i:1280\r\n"
                                               "desktopheight:i:800\r\n"
                                               "session bpp:i:16\r\n"
                                               "winposstr:s:0,3,0,0,800,600\r\n"
                                               "full address:s:192.168.1.10:3389\r\n"
                                               "compression:i:1\r\n"
                                               "keyboardhook:i:2\r\n"
                                               "audiomode:i:0\r\n"
                                               "redirectdrives:i:0\r\n"
                                               "redirectprinters:i:0\r\n"
                                               "redirectcomports:i:0\r\n"
                                               "redirectsmartcards:i:1\r\n"
                                               "displayconnectionbar:i:1\r\n"
                                               "autoreconnection enabled:i:1\r\n"
                                               "username:s:Administrator\r\n"
                                               "alternate shell:s:\r\n"
                                               "shell working directory:s:\r\n"
                                               "%密码%\r\n"
                                               "disable wallpaper:i:1\r\n"
                                               "disable full window drag:i:1\r\n"
                                               "disable menu anims:i:1\r\n"
                                               "disable themes:i:0\r\n"
                                               "disable cursor setting:i:0\r\n"
                                               "bitmapcachepersistenable:i:1\r\n"
                                               "use multimon:i:0\r\n"
                                               "audiocapturemode:i:0\r\n"
                                               "videoplaybackmode:i:1\r\n"
                                               "connection type:i:2\r\n"
                                               "allow font smoothing:i:0\r\n"
                                               "allow desktop composition:i:0\r\n"
                                               "redirectclipboard:i:1\r\n"
                                               "redirectposdevices:i:0\r\n"
                                               "redirectdirectx:i:1\r\n"
                                               "drivestoredirect:s:\r\n"
                                               "authentication level:i:0\r\n"
                                               "prompt for credentials:i:0\r\n"
                                               "negotiate security layer:i:1\r\n"
                                               "remoteapplicationmode:i:0\r\n"
                                               "gatewayhostname:s:\r\n"
                                               "gatewayusagemethod:i:4\r\n"
                                               "gatewaycredentialssource:i:4\r\n"
                                               "gatewayprofileusagemethod:i:0\r\n"
                                               "promptcredentialonce:i:1\r\n"
                                               "use redirection server name:i:0");
    // A blob handed in without a password must not reach the file.
    EXPECT_EQ(ConnectionFileText(Entry("192.168.1.10", "3389", "Administrator"), false, "ABC0"), expected);
}

TEST(RdpFileTest, FilledLines) {
    const std::string account = Gbk::FromUtf8("管理员");
    const auto lines = LinesOf(ConnectionFileText(Entry("srv.example", "", account, "x"), true, "0A0"));
    ASSERT_EQ(lines.size(), 45u);
    EXPECT_EQ(lines[5], "full address:s:srv.example:");
    EXPECT_EQ(lines[15], "username:s:" + account);
    EXPECT_EQ(lines[18], "password 51:b:0A0");
    // Sharing the disks turns the drive redirection on and the smart cards off, together.
    EXPECT_EQ(lines[12], "redirectsmartcards:i:0");
    EXPECT_EQ(lines[34], "drivestoredirect:s:*");
}

TEST(RdpFileTest, Ipv6AddressesAreWrittenInBrackets) {
    EXPECT_EQ(FullAddress("::1", "3390"), "[::1]:3390");
    EXPECT_EQ(FullAddress("fe80::1%2", "3389"), "[fe80::1%2]:3389");
    EXPECT_EQ(FullAddress("[::1]", "3390"), "[::1]:3390");
    EXPECT_EQ(FullAddress("10.1.2.3", "3389"), "10.1.2.3:3389");
    EXPECT_EQ(FullAddress(Gbk::FromUtf8("服务器.example"), ""), Gbk::FromUtf8("服务器.example:"));
    EXPECT_EQ(LinesOf(ConnectionFileText(Entry("2001:db8::7", "3390", "a", ""), false, ""))[5],
              "full address:s:[2001:db8::7]:3390");
}

TEST(RdpFileTest, ScreenModeLineFollowsTheChoiceAndNothingElseChanges) {
    // An account that reads like the line itself stays as it is.
    const std::string text = ConnectionFileText(Entry("h", "1", "screen mode id:i:2", ""), false, "");
    const std::string window = WithScreenMode(text, false);
    EXPECT_TRUE(window.starts_with("screen mode id:i:1\r\ndesktopwidth:i:1280\r\n"));
    EXPECT_EQ(window.substr(18), text.substr(18));
    EXPECT_EQ(WithScreenMode(text, true), text);
}

TEST(RdpFileTest, PasswordPlaintextIsUtf16WithTerminatorInFixedSize) {
    const Bytes plain = PasswordPlaintext(Gbk::FromUtf8("a密"));
    ASSERT_EQ(plain.size(), 512u);
    const Bytes head{'a', 0, 0xC6, 0x5B, 0, 0};
    EXPECT_TRUE(std::equal(head.begin(), head.end(), plain.begin()));
    EXPECT_TRUE(std::all_of(plain.begin() + 6, plain.end(), [](unsigned char b) { return b == 0; }));

    // Longer than 255 units: the first 512 bytes of text, no room left for a terminator.
    const Bytes longPlain = PasswordPlaintext(std::string(300, 'p'));
    ASSERT_EQ(longPlain.size(), 512u);
    EXPECT_EQ(longPlain[510], 'p');
    EXPECT_EQ(longPlain[511], 0);
}

TEST(RdpFileTest, BlobIsUpperCaseHexWithOneExtraDigit) {
    EXPECT_EQ(PasswordBlob({0x0A, 0xFF, 0x00, 0x7B}), "0AFF007B0");
    EXPECT_EQ(PasswordBlob({}), "0");
    EXPECT_EQ(PasswordBlob(Bytes(561, 0x11)).size() % 2, 1u);
}

TEST(RdpFileTest, CommandLineOptionsInOrderAndAPathWithABlankQuoted) {
    EXPECT_EQ(ClientCommandLine("/tmp/1f.tmp", {false, true}), "mstsc.exe /tmp/1f.tmp /f ");
    EXPECT_EQ(ClientCommandLine("C:\\Users\\John Smith\\Temp\\a.tmp", {true, false}),
              "mstsc.exe \"C:\\Users\\John Smith\\Temp\\a.tmp\" /admin /w:800 /h:600 ");
    EXPECT_EQ(ClientCommandLine("C:\\tab\there.tmp", {false, true}), "mstsc.exe \"C:\\tab\there.tmp\" /f ");
    EXPECT_EQ(ClientOptions({true, false}), (std::vector<std::string>{"/admin", "/w:800", "/h:600"}));
}

TEST(RdpFileTest, TemporaryNameIsLowerCaseHex) {
    EXPECT_EQ(TemporaryFileName(0x1A2BFu), "1a2bf.tmp");
    EXPECT_EQ(TemporaryFileName(0xFFFFFFFFu), "ffffffff.tmp");
}

} // namespace
