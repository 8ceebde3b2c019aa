#include "runtime/TemporaryFiles.h"
#include "runtime/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

TEST(TemporaryFilesTest, NewFileIsTheUsersAloneAndNeverReplacesAnother) {
    TempDir dir;
    const std::string path = dir.File("a.rdp");
    ASSERT_EQ(WriteNewFile(path, "text"), NewFileResult::Written);
    EXPECT_EQ(ReadWholeFile(path), BytesFromText("text"));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    EXPECT_EQ(WriteNewFile(path, "other"), NewFileResult::Exists);
    EXPECT_EQ(ReadWholeFile(path), BytesFromText("text"));

    // A link planted under the name, even to a file not there yet, is not followed.
    ASSERT_EQ(::symlink(dir.File("target").c_str(), dir.File("link.rdp").c_str()), 0);
    EXPECT_EQ(WriteNewFile(dir.File("link.rdp"), "text"), NewFileResult::Exists);
    EXPECT_NE(::access(dir.File("target").c_str(), F_OK), 0);

    EXPECT_EQ(WriteNewFile(dir.File("missing/a.rdp"), "text"), NewFileResult::Failed);
}

TEST(TemporaryFilesTest, DirectoryEndsInASeparator) {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("TMPDIR", "/var/tmp", 1);
    EXPECT_EQ(TemporaryDirectory(), "/var/tmp/");
    ::setenv("TMPDIR", "relative", 1);
    EXPECT_EQ(TemporaryDirectory(), "/tmp/");
    if (old != nullptr) {
        ::setenv("TMPDIR", saved.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
}

} // namespace
