#include "servers/ServerImport.h"
#include "runtime/Gbk.h"
#include "support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#ifndef _WIN32
#include <unistd.h>
#endif

namespace {

// The text as Windows saves a connection file: UTF-16LE after a byte-order mark.
Bytes Utf16Le(std::u16string_view text) {
    Bytes bytes{0xFF, 0xFE};
    for (const char16_t unit : text) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return bytes;
}

ServerEntry Entry(const std::string& host, const std::string& port, const std::string& account,
                  const std::string& note) {
    return {host, port, account, "", note, ServerStatus::Unknown};
}

class ServerImportTest : public ::testing::Test {
protected:
    // Written under the UTF-8 name the import is handed, on Windows too, where a narrow name is the ANSI one.
    std::string Write(const std::string& name, const Bytes& bytes) {
        const std::string path = dir_.File(name);
        std::ofstream out(std::filesystem::path(std::u8string(path.begin(), path.end())), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        EXPECT_TRUE(out.good()) << path;
        return path;
    }
    std::string Write(const std::string& name, std::string_view text) { return Write(name, BytesFromText(text)); }

    TempDir dir_;
};

TEST_F(ServerImportTest, RdpFilesInEachEncodingAndRemminaRdpProfilesGiveTheirServers) {
    const std::vector<std::string> paths{
        // As the Windows client saves it, with its sealed password, which is not taken.
        Write("游戏一区.rdp", Utf16Le(u"screen mode id:i:2\r\nfull address:s:127.0.0.1:3390\r\n"
                                      u"username:s:管理员\r\npassword 51:b:01000000D08C9DDF0115D1118C7A00C0\r\n")),
        // Saved as "ANSI" on a Chinese Windows: GBK, the port on a line of its own.
        Write("ansi.RDP",
              "full address:s:localhost\r\nserver port:i:3391\r\nusername:s:" + Gbk::FromUtf8("运维\\张三") + "\r\n"),
        Write("utf8.rdp", "\xEF\xBB\xBF"
                          "full address:s:127.0.0.4\nusername:s:" +
                              std::string("root") + "\n"),
        Write("remote.remmina", "[remmina]\nname=" + std::string("二区\\s主机") +
                                    "\nprotocol=RDP\nserver=127.0.0.3:3392\nusername=admin\ndomain=CORP\n"
                                    "password=c2VhbGVk\n"),
    };
    const std::vector<ImportedFile> files = ImportServerFiles(paths, {});
    ASSERT_EQ(files.size(), 4u);
    const std::vector<ServerEntry> expected{
        Entry("127.0.0.1", "3390", Gbk::FromUtf8("管理员"), Gbk::FromUtf8("游戏一区")),
        Entry("localhost", "3391", Gbk::FromUtf8("运维\\张三"), "ansi"),
        Entry("127.0.0.4", "3389", "root", "utf8"),
        Entry("127.0.0.3", "3392", "CORP\\admin", Gbk::FromUtf8("二区 主机")),
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].skip, ImportSkip::None) << files[i].path;
        EXPECT_EQ(files[i].entry, expected[i]) << files[i].path;
    }
}

TEST_F(ServerImportTest, OtherProtocolsDuplicatesAndValuesMsIniCannotCarryAreSkippedWithTheirReason) {
    const std::vector<ServerEntry> existing{Entry("LocalHost", "3389", "Administrator", "")};
    const std::vector<std::string> paths{
        Write("vnc.remmina", "[remmina]\nprotocol=VNC\nserver=127.0.0.5\n"),
        Write("ssh.remmina", "[other]\nprotocol=RDP\n[remmina]\nprotocol=SSH\nserver=127.0.0.5\n"),
        // Same host in other letters, the same port and account: already listed.
        Write("dup.rdp", "full address:s:localhost:3389\r\nusername:s:Administrator\r\n"),
        Write("new.rdp", "full address:s:127.0.0.6\r\nusername:s:a\r\n"),
        Write("again.rdp", "full address:s:127.0.0.6:3389\r\nusername:s:a\r\n"),
        Write("pipe.rdp", "full address:s:127.0.0.7\r\nusername:s:x|y\r\n"),
        Write("marker.remmina", "[remmina]\nprotocol=RDP\nserver=127.0.0.7\nusername=#admin:1\n"),
        Write("emoji.rdp", Utf16Le(u"full address:s:127.0.0.7\r\nusername:s:a\U0001F600\r\n")),
        Write("noaddress.rdp", "username:s:a\r\n"),
    };
    const std::vector<ImportedFile> files = ImportServerFiles(paths, existing);
    ASSERT_EQ(files.size(), paths.size());
    const std::vector<ImportSkip> skips{ImportSkip::NotRdp,  ImportSkip::NotRdp,    ImportSkip::Duplicate,
                                        ImportSkip::None,    ImportSkip::Duplicate, ImportSkip::Refused,
                                        ImportSkip::Refused, ImportSkip::Refused,   ImportSkip::NoAddress};
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].skip, skips[i]) << files[i].path;
    }
    EXPECT_EQ(files[5].field, ImportField::Account);
    EXPECT_EQ(files[5].problem, FieldProblem::SeparatorOrLineBreak);
    EXPECT_EQ(files[6].problem, FieldProblem::Marker);
    EXPECT_EQ(files[7].problem, FieldProblem::ZeroByte) << "a character GBK cannot hold";

    // A "|" in the address is refused there too, and a note that cannot be stored is only left out.
    const ImportedFile host = ParseServerFile("a|b.rdp", BytesFromText("full address:s:127.0.0.8|1\r\n"));
    EXPECT_EQ(host.skip, ImportSkip::Refused);
    EXPECT_EQ(host.field, ImportField::Host);
    const ImportedFile note = ParseServerFile("/dir/a|b.rdp", BytesFromText("full address:s:127.0.0.8\r\n"));
    EXPECT_EQ(note.skip, ImportSkip::None);
    EXPECT_EQ(note.entry.note, "");
}

// The values below stand as other tools' own files and test fixtures hold them.
TEST_F(ServerImportTest, TheDomainLineJoinsTheAccountUnlessTheAccountNamesItsOwn) {
    const ImportedFile joined =
        ParseServerFile("mremote.rdp", BytesFromText("full address:s:127.0.0.9\r\nusername:s:myusernamehere\r\n"
                                                     "domain:s:myspecialdomain\r\n"));
    ASSERT_EQ(joined.skip, ImportSkip::None);
    EXPECT_EQ(joined.entry.account, "myspecialdomain\\myusernamehere");

    // The clients log in with the domain the account itself names.
    const ImportedFile own = ParseServerFile(
        "own.rdp", BytesFromText("domain:s:OTHER\nfull address:s:127.0.0.9\nusername:s:LAB1\\JohnDoe\n"));
    EXPECT_EQ(own.entry.account, "LAB1\\JohnDoe");
    const ImportedFile mail =
        ParseServerFile("mail.rdp", BytesFromText("full address:s:127.0.0.9\nusername:s:jd@lab1\ndomain:s:X\n"));
    EXPECT_EQ(mail.entry.account, "jd@lab1");
    // In UTF-8 the byte before the "\\" may look like the first of a GBK character; in GBK it is found as one.
    const ImportedFile remmina = ParseServerFile(
        "r.remmina", BytesFromText("[remmina]\nprotocol=RDP\nserver=127.0.0.9\nusername=张\\\\x\ndomain=CORP\n"));
    EXPECT_EQ(remmina.entry.account, Gbk::FromUtf8("张\\x"));
}

TEST_F(ServerImportTest, TheAlternateFullAddressIsTheOneTaken) {
    const std::vector<std::string> paths{
        Write("utf8.rdp", "screen mode id:i:2\n"
                          "full address:s:LAB1-W7-DM-01.lab1.awake.local\n"
                          "alternate full address:s:LAB1-W7-DM-01.lab1.awake.global\n"
                          "username:s:LAB1\\JohnDoe\n"),
        Write("utf16.rdp", Utf16Le(u"screen mode id:i:2\r\nfull address:s:LAB1-W7-DM-01.lab1.awake.local\r\n"
                                   u"username:s:LAB1\\JohnDoe\r\n")),
        // An empty alternate leaves the full address.
        Write("empty.rdp", "alternate full address:s:\r\nfull address:s:127.0.0.10:3390\r\n"),
    };
    const std::vector<ImportedFile> files = ImportServerFiles(paths, {});
    ASSERT_EQ(files.size(), 3u);
    for (const ImportedFile& file : files) {
        EXPECT_EQ(file.skip, ImportSkip::None) << file.path;
    }
    EXPECT_EQ(files[0].entry.host, "LAB1-W7-DM-01.lab1.awake.global");
    EXPECT_EQ(files[1].entry.host, "LAB1-W7-DM-01.lab1.awake.local");
    EXPECT_EQ(files[2].entry.host, "127.0.0.10");
    EXPECT_EQ(files[2].entry.port, "3390");
}

TEST_F(ServerImportTest, APortThatIsNoNumberTheClientCanUseIsRefused) {
    const ImportedFile query = ParseServerFile(
        "token.remmina",
        BytesFromText("[remmina]\nprotocol=RDP\nserver=rdp.example.test:3389?token=visible=part\nusername=u\n"));
    EXPECT_EQ(query.skip, ImportSkip::BadPort);
    EXPECT_EQ(query.entry.port, "3389?token=visible=part");
    for (const std::string_view text :
         {"full address:s:127.0.0.11:0\r\n", "full address:s:127.0.0.11:65536\r\n",
          "full address:s:127.0.0.11\r\nserver port:i:-1\r\n", "full address:s:[::1]:33 89\r\n"}) {
        EXPECT_EQ(ParseServerFile("port.rdp", BytesFromText(text)).skip, ImportSkip::BadPort) << text;
    }
    const ImportedFile highest = ParseServerFile("port.rdp", BytesFromText("full address:s:[::1]:65535\r\n"));
    EXPECT_EQ(highest.skip, ImportSkip::None);
    EXPECT_EQ(highest.entry.port, "65535");
}

TEST_F(ServerImportTest, AnAnsiValueEndingInHalfACharacterIsRefusedBeforeItSwallowsTheSeparator) {
    const ImportedFile account =
        ParseServerFile("ansi.rdp", BytesFromText("full address:s:127.0.0.27:3389\r\nusername:s:ab\x80\r\n"));
    const ImportedFile host = ParseServerFile("ansi.rdp", BytesFromText("full address:s:127.0.0.27\x80:3389\r\n"));
#ifdef _WIN32
    // Code page 936 on Windows takes no 0x80 alone, so there such a file is no GBK text at all.
    EXPECT_EQ(account.skip, ImportSkip::NotText);
    EXPECT_EQ(host.skip, ImportSkip::NotText);
#else
    EXPECT_EQ(account.skip, ImportSkip::Refused);
    EXPECT_EQ(account.field, ImportField::Account);
    EXPECT_EQ(account.problem, FieldProblem::PartCharacter);
    EXPECT_EQ(host.skip, ImportSkip::Refused);
    EXPECT_EQ(host.field, ImportField::Host);
    EXPECT_EQ(host.problem, FieldProblem::PartCharacter);
#endif

    // Whole characters stay, also when the last one's second byte is 0x80 or more, or could lead another.
    const std::string whole = Gbk::FromUtf8("运维");
    const ImportedFile kept =
        ParseServerFile("ansi.rdp", BytesFromText("full address:s:127.0.0.27\r\nusername:s:" + whole + "\r\n"));
    EXPECT_EQ(kept.skip, ImportSkip::None);
    EXPECT_EQ(kept.entry.account, whole);
    EXPECT_EQ(ServerFieldProblem("\xB0"), FieldProblem::PartCharacter);
    EXPECT_EQ(ServerFieldProblem("a\xB0\xA1\xB0"), FieldProblem::PartCharacter);
    EXPECT_EQ(ServerFieldProblem("\xB0\xB0\xB0\xA1"), FieldProblem::None);
}

TEST_F(ServerImportTest, PortsCompareAsStoredSoAPortPastTheRangeIsNoDuplicate) {
    const std::vector<ServerEntry> existing{Entry("127.0.0.19", "68925", "Administrator", ""),
                                            Entry("127.0.0.19", Gbk::FromUtf8("３３８９"), "Administrator", "")};
    const std::vector<ImportedFile> files = ImportServerFiles(
        {Write("same.rdp", "full address:s:127.0.0.19:3389\r\nusername:s:Administrator\r\n")}, existing);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].skip, ImportSkip::None);
}

#ifndef _WIN32
TEST_F(ServerImportTest, FilesThatAreNoConnectionFilesAreSkippedWithoutHanging) {
    const std::string fifo = dir_.File("pipe.rdp");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    ::mkdir(dir_.File("folder.rdp").c_str(), 0700);
    const std::string closed = Write("closed.rdp", "full address:s:127.0.0.1\r\n");
    ::chmod(closed.c_str(), 0);
    const std::vector<std::string> paths{
        fifo,
        dir_.File("folder.rdp"),
        Write("huge.rdp", "full address:s:127.0.0.1\r\n" + std::string(kImportFileLimit, ' ')),
        Write("binary.rdp", Bytes{'f', 'u', 0, 0xFF, 0x00, 0x13}),
        Write("latin1.remmina", "[remmina]\nprotocol=RDP\nserver=127.0.0.1\nname=caf\xE9\xFF\n"),
        Write("odd.rdp", Bytes{0xFF, 0xFE, 'f', 0, 'u'}),
        dir_.File("missing.rdp"),
        Write("notes.txt", "full address:s:127.0.0.1\r\n"),
        closed,
    };
    const std::vector<ImportedFile> files = ImportServerFiles(paths, {});
    ASSERT_EQ(files.size(), paths.size());
    std::vector<ImportSkip> skips{ImportSkip::NotRegularFile, ImportSkip::NotRegularFile, ImportSkip::TooLarge,
                                  ImportSkip::NotText,        ImportSkip::NotText,        ImportSkip::NotText,
                                  ImportSkip::Unreadable,     ImportSkip::NotServerFile,  ImportSkip::Unreadable};
    if (::geteuid() == 0) {
        skips.back() = ImportSkip::None; // root reads it all the same
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        EXPECT_EQ(files[i].skip, skips[i]) << files[i].path;
    }
}
#endif

} // namespace
