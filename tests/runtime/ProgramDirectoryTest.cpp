#include "runtime/ProgramDirectory.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(ProgramDirectoryTest, IsTheDirectoryOfTheRunningProgram) {
    const std::string directory = ProgramDirectory();
    ASSERT_FALSE(directory.empty());
    EXPECT_NE(directory.back(), '/');
    EXPECT_EQ(::access((directory + "/ProgramDirectoryTest").c_str(), X_OK), 0) << directory;
}

TEST(ProgramDirectoryTest, AProgramDirectoryThatCannotBeWrittenGivesWayToThePerUserDirectory) {
    TempDir home;
    ::setenv("XDG_DATA_HOME", (home.Path() + "/data").c_str(), 1);

    EXPECT_EQ(ChooseWorkingDirectory(home.Path()), home.Path());

    const std::string fallback = ChooseWorkingDirectory(home.Path() + "/not-there");
    EXPECT_EQ(fallback, home.Path() + "/data/tolvar");
    struct stat info {};
    ASSERT_EQ(::stat(fallback.c_str(), &info), 0) << "created on demand";
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    // Without XDG_DATA_HOME the data directory is under the home directory.
    ::unsetenv("XDG_DATA_HOME");
    ::setenv("HOME", home.Path().c_str(), 1);
    EXPECT_EQ(UserDataDirectory(), home.Path() + "/.local/share/tolvar");
}

} // namespace
