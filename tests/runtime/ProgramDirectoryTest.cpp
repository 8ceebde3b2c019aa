#include "runtime/ProgramDirectory.h"
#include "runtime/Files.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ProgramDirectoryTest : public ::testing::Test {
protected:
    void SetUp() override {
        GiveToOrdinaryUser(home_.Path());
        ::setenv("HOME", home_.Path().c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
    }

    static mode_t ModeOf(const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
    }

    TempDir home_;
};

TEST_F(ProgramDirectoryTest, IsTheDirectoryOfTheRunningProgram) {
    const std::string directory = ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), '/');
    EXPECT_EQ(::access((directory + "/ProgramDirectoryTest").c_str(), X_OK), 0) << directory;
}

TEST_F(ProgramDirectoryTest, ThePerUserDirectoryIsMadePrivateUnderTheHomeOrTheNamedDataDirectory) {
    EXPECT_EQ(UserDataDirectory(), home_.Path() + "/.local/share/tolvar");
    // An installed program keeps its data per user, whoever runs it.
    EXPECT_EQ(LocateDataDirectories("/usr/bin").save, home_.Path() + "/.local/share/tolvar");
    for (const char* made : {"/.local", "/.local/share", "/.local/share/tolvar"}) {
        EXPECT_EQ(ModeOf(home_.Path() + made), 0700u) << made;
    }

    ::setenv("XDG_DATA_HOME", (home_.Path() + "/data/deeper/").c_str(), 1);
    EXPECT_EQ(UserDataDirectory(), home_.Path() + "/data/deeper/tolvar");
    EXPECT_EQ(ModeOf(home_.Path() + "/data"), 0700u) << "missing parents are made private too";
}

TEST_F(ProgramDirectoryTest, APerUserDirectoryThatIsNotSafelyTheUsersOwnIsNotUsed) {
    // A file where the data directory should be, as a mistyped XDG_DATA_HOME gives.
    WriteTestFile(home_.File("file"), {'x'});
    ::setenv("XDG_DATA_HOME", home_.File("file").c_str(), 1);
    EXPECT_EQ(UserDataDirectory(), "");

    // A shared directory others may write into, such as /tmp.
    ::setenv("XDG_DATA_HOME", "/tmp", 1);
    EXPECT_EQ(UserDataDirectory(), "");

    ::setenv("XDG_DATA_HOME", home_.File("shared").c_str(), 1);
    ASSERT_EQ(::mkdir(home_.File("shared").c_str(), 0700), 0);
    ::chmod(home_.File("shared").c_str(), 0770);
    EXPECT_EQ(UserDataDirectory(), "");

    // A directory somebody else owns, even one that looks private.
    ::chmod(home_.File("shared").c_str(), 0700);
    ASSERT_EQ(::mkdir(home_.File("shared/tolvar").c_str(), 0700), 0);
    ASSERT_EQ(::chown(home_.File("shared/tolvar").c_str(), ::geteuid() == 0 ? 65534 : 0, -1) == 0, ::geteuid() == 0)
        << "only root can hand a directory to another user";
    if (::geteuid() == 0) {
        EXPECT_EQ(UserDataDirectory(), "");
    }

    ::unsetenv("XDG_DATA_HOME");
    ::unsetenv("HOME");
    EXPECT_EQ(UserDataDirectory(), "") << "no falling back to a shared directory";
}

TEST_F(ProgramDirectoryTest, AReadOnlyProgramDirectoryIsReadButSavesGoToThePerUserDirectory) {
    TempDir program;
    WriteTestFile(program.File("ms.ini"), {'p'});
    WriteTestFile(program.File("websc.edb"), {'b'});
    GiveToOrdinaryUser(program.Path());
    ::chmod(program.Path().c_str(), 0555);

    const std::string own = home_.Path() + "/.local/share/tolvar";
    const int result = RunAsOrdinaryUser([&] {
        const DataDirectories directories = LocateDataDirectories(program.Path());
        if (directories.program != program.Path() || directories.save != own) {
            return 1;
        }
        if (directories.ReadPath("ms.ini") != program.File("ms.ini") ||
            directories.SavePath("ms.ini") != own + "/ms.ini") {
            return 2;
        }
        WriteTestFile(own + "/ms.ini", {'u'});
        if (directories.ReadPath("ms.ini") != own + "/ms.ini") {
            return 3;
        }
        // A file changed in place is carried over to the user's directory once, then used there.
        const std::string bookmarks = directories.EditablePath("websc.edb");
        if (bookmarks != own + "/websc.edb" || ReadWholeFile(bookmarks) != Bytes{'b'}) {
            return 4;
        }
        WriteTestFile(bookmarks, {'c'});
        return directories.EditablePath("websc.edb") == bookmarks && ReadWholeFile(bookmarks) == Bytes{'c'} ? 0 : 5;
    });
    EXPECT_EQ(result, 0);
    ::chmod(program.Path().c_str(), 0700);

    // A writable program directory keeps everything beside the program.
    const DataDirectories writable = LocateDataDirectories(home_.Path());
    EXPECT_EQ(writable.save, home_.Path());
    EXPECT_EQ(writable.ReadPath("ms.ini"), home_.File("ms.ini"));

    // Nowhere to save: the program's own file is still read, and nothing is written.
    ::unsetenv("HOME");
    const DataDirectories nowhere{program.Path(), ""};
    EXPECT_EQ(nowhere.ReadPath("ms.ini"), program.File("ms.ini"));
    EXPECT_EQ(nowhere.SavePath("ms.ini"), "");
    EXPECT_EQ(nowhere.EditablePath("websc.edb"), program.File("websc.edb"));
}

TEST_F(ProgramDirectoryTest, AProgramDirectoryAnybodyMayWriteKeepsNothingAndOthersLinksAreNotTaken) {
    // A sticky world-writable folder, as /tmp is: anybody may plant files there.
    TempDir program;
    ::chmod(program.Path().c_str(), 01777);
    const DataDirectories open = LocateDataDirectories(program.Path());
    EXPECT_TRUE(open.programOpenToAll);
    EXPECT_EQ(open.save, home_.Path() + "/.local/share/tolvar");

    // A folder shared with a group is for sharing the list: it is used as it is.
    ::chmod(program.Path().c_str(), 0770);
    const DataDirectories shared = LocateDataDirectories(program.Path());
    EXPECT_FALSE(shared.programOpenToAll);
    EXPECT_EQ(shared.save, program.Path());

    // There, a bookmark file that is another user's link is kept in the user's own directory instead.
    if (::geteuid() != 0) {
        return; // only root can make a link that belongs to someone else
    }
    TempDir elsewhere;
    ASSERT_EQ(::symlink(elsewhere.File("theirs").c_str(), program.File("websc.edb").c_str()), 0);
    ASSERT_EQ(::lchown(program.File("websc.edb").c_str(), OrdinaryUid() + 1, OrdinaryUid() + 1), 0);
    EXPECT_EQ(shared.EditablePath("websc.edb"), home_.Path() + "/.local/share/tolvar/websc.edb");
    EXPECT_FALSE(PathExists(elsewhere.File("theirs")));
}

} // namespace
