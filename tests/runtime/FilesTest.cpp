#include "runtime/Files.h"
#include "support/TempDir.h"

#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

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
        ::_exit(ReplaceFileAtomically(path, Bytes(100000, 'n'), 0600) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the failed write was reported as success";
    EXPECT_EQ(ReadWholeFile(path), old);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);

    EXPECT_FALSE(ReplaceFileAtomically(dir.File("no/such/dir/ms.ini"), old, 0600));
}

} // namespace
