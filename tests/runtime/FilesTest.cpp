#include "runtime/Files.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// How a read ended, as the program's callers tell it apart.
enum class ReadEnd { Read, Missing, Unreadable };
ReadEnd EndOf(const FileRead& read) {
    return read ? ReadEnd::Read : IsMissing(read) ? ReadEnd::Missing : ReadEnd::Unreadable;
}

TEST(FilesTest, MissingOrEmptyFilesReadAsEmpty) {
    TempDir dir;
    EXPECT_TRUE(ReadWholeFile(dir.File("missing")).empty());
    WriteTestFile(dir.File("empty"), {});
    EXPECT_TRUE(ReadWholeFile(dir.File("empty")).empty());
    EXPECT_TRUE(ReadWholeFile(dir.Path()).empty()); // a directory
}

TEST(FilesTest, ReplaceWritesTheWholeContentWithTheGivenMode) {
    TempDir dir;
    const std::string path = dir.File("ms.ini");
    WriteTestFile(path, Bytes(100000, 'o'));
    ::chmod(path.c_str(), 0644);

    Bytes data(70000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i * 7);
    }
    ASSERT_TRUE(ReplaceFileAtomically(path, data, 0600));
    EXPECT_EQ(ReadWholeFile(path), data);
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(FilesTest, AFailedReplaceKeepsTheOldFile) {
    TempDir dir;
    const std::string path = dir.File("ms.ini");
    const Bytes old{'o', 'l', 'd'};
    WriteTestFile(path, old);

    // A write that runs out of room half-way, as on a full disk, in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        // The reason is the write's, not that of the clean-up after it.
        const Result<void> replaced = ReplaceFileAtomically(path, Bytes(100000, 'n'), 0600);
        ::_exit(replaced ? 0 : replaced.Reason() == std::errc::file_too_large ? 1 : 2);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 0) << "the failed write was reported as success";
    EXPECT_EQ(WEXITSTATUS(status), 1) << "the failure does not carry EFBIG";
    EXPECT_EQ(ReadWholeFile(path), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    const Result<void> missing = ReplaceFileAtomically(dir.File("no/such/dir/ms.ini"), old, 0600);
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.Reason(), std::error_code(ENOENT, std::system_category()));
}

TEST(FilesTest, WhatCannotBeReadWholeIsToldApartFromWhatIsMissing) {
    TempDir dir;
    EXPECT_EQ(EndOf(ReadFile(dir.File("missing"))), ReadEnd::Missing);
    EXPECT_EQ(EndOf(ReadFile(dir.Path())), ReadEnd::Unreadable);

    // A FIFO's open would block until a writer came; the child is killed if that fault is back.
    ASSERT_EQ(::mkfifo(dir.File("fifo").c_str(), 0600), 0);
    GiveToOrdinaryUser(dir.Path());
    EXPECT_EQ(RunAsOrdinaryUser([&] { return static_cast<int>(EndOf(ReadFile(dir.File("fifo")))); }),
              static_cast<int>(ReadEnd::Unreadable));

    // Just over the limit, as a sparse file, is refused without reading it; at the limit it is read.
    const std::string large = dir.File("large");
    WriteTestFile(large, {});
    ASSERT_EQ(::truncate(large.c_str(), static_cast<off_t>(kReadLimit) + 1), 0);
    EXPECT_EQ(EndOf(ReadFile(large)), ReadEnd::Unreadable);
    EXPECT_EQ(ReadFile(large, kReadLimit + 1).value().size(), kReadLimit + 1);

    // Permissions count for an ordinary user.
    WriteTestFile(dir.File("secret"), {'x'});
    GiveToOrdinaryUser(dir.File("secret"));
    ::chmod(dir.File("secret").c_str(), 0);
    EXPECT_EQ(RunAsOrdinaryUser([&] { return static_cast<int>(EndOf(ReadFile(dir.File("secret")))); }),
              static_cast<int>(ReadEnd::Unreadable));
}

TEST(FilesTest, AFailedReadOrReplaceSaysWhatItWasDoingAndTheSystemsReason) {
    TempDir dir;
    const FileRead directory = ReadFile(dir.Path());
    ASSERT_FALSE(directory);
    EXPECT_EQ(directory.Reason(), std::errc::is_a_directory);
    EXPECT_EQ(directory.error().Message(),
              "reading " + dir.Path() + ": " + std::make_error_code(std::errc::is_a_directory).message());
    // The reason met below is kept as it was, not overwritten by a caller's words.
    const Result<void> replaced = ReplaceFileAtomically(dir.File("no/such/dir/ms.ini"), {}, 0600);
    EXPECT_EQ(replaced.error().doing, "replacing " + dir.File("no/such/dir/ms.ini"));
    const Result<void> handedOn = Result<void>(FailureOf(replaced)).Doing("saving");
    EXPECT_EQ(handedOn.error().doing, replaced.error().doing);
    // A failure with a cleared code is still a failure.
    EXPECT_EQ(Result<void>(Fail(std::error_code())).Reason(), std::errc::io_error);
}

TEST(FilesTest, AFileTheUserMayNotWriteIsNeverReplaced) {
    TempDir dir;
    const std::string path = dir.File("ms.ini");
    WriteTestFile(path, {'o', 'l', 'd'});
    GiveToOrdinaryUser(dir.Path());
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(RunAsOrdinaryUser([&] { return MayReplace(path) || ReplaceFileAtomically(path, {'n'}, 0600) ? 1 : 0; }),
              0);
    EXPECT_EQ(ReadWholeFile(path), (Bytes{'o', 'l', 'd'}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0444u);
}

TEST(FilesTest, ReplacingThroughALinkWritesTheFileItNames) {
    TempDir dir;
    ASSERT_EQ(::mkdir(dir.File("elsewhere").c_str(), 0700), 0);
    WriteTestFile(dir.File("elsewhere/real.ini"), {'o'});
    ASSERT_EQ(::symlink("elsewhere/real.ini", dir.File("ms.ini").c_str()), 0);
    ASSERT_EQ(::symlink("elsewhere/new.ini", dir.File("dangling.ini").c_str()), 0);

    ASSERT_TRUE(ReplaceFileAtomically(dir.File("ms.ini"), {'n'}, 0600));
    ASSERT_TRUE(ReplaceFileAtomically(dir.File("dangling.ini"), {'d'}, 0600));

    for (const char* link : {"ms.ini", "dangling.ini"}) {
        struct stat info {};
        ASSERT_EQ(::lstat(dir.File(link).c_str(), &info), 0);
        EXPECT_TRUE(S_ISLNK(info.st_mode)) << link << " is still a link";
    }
    EXPECT_EQ(ReadWholeFile(dir.File("elsewhere/real.ini")), (Bytes{'n'}));
    EXPECT_EQ(ReadWholeFile(dir.File("elsewhere/new.ini")), (Bytes{'d'}));
    // The temporary files were made beside the targets and are gone.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.File("elsewhere")), {}), 2);
}

TEST(FilesTest, TemporariesOfAKilledSaveAreRemovedButALiveWritersAreNot) {
    TempDir dir;
    const std::string path = dir.File("ms.ini");
    // Only names of the saves' own pattern go: a user's backup named like a temporary file stays.
    for (const char* name : {"ms.ini.saving-Ab3xY9", "ms.ini.saving-live01", "ms.ini.backup", "ms.ini.bak",
                             "ms.ini.saving-abc12", "ms.ini.saving-abc1234"}) {
        WriteTestFile(dir.File(name), {'p'});
    }
    // Another instance in the middle of its save holds its temporary file's lock.
    const int live = ::open(dir.File("ms.ini.saving-live01").c_str(), O_RDONLY);
    ASSERT_GE(live, 0);
    ASSERT_EQ(::flock(live, LOCK_EX), 0);
    const pid_t cleaner = ::fork();
    ASSERT_GE(cleaner, 0);
    if (cleaner == 0) {
        RemoveStaleTemporaries(path);
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(cleaner, nullptr, 0), cleaner);
    ::close(live);

    for (const char* kept :
         {"ms.ini.saving-live01", "ms.ini.backup", "ms.ini.bak", "ms.ini.saving-abc12", "ms.ini.saving-abc1234"}) {
        EXPECT_TRUE(std::filesystem::exists(dir.File(kept))) << kept;
    }
    EXPECT_FALSE(std::filesystem::exists(dir.File("ms.ini.saving-Ab3xY9")));

    // A save clears what the killed one left.
    ASSERT_TRUE(ReplaceFileAtomically(path, {'n'}, 0600));
    EXPECT_FALSE(std::filesystem::exists(dir.File("ms.ini.saving-live01")));
    EXPECT_TRUE(std::filesystem::exists(dir.File("ms.ini.backup")));
}

} // namespace
