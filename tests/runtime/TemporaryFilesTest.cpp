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

TEST(TemporaryFilesTest, UniqueFileNeverOpensANameSomeoneTook) {
    TempDir dir;
    // Every name is the same one, already taken: its file stays as it was and no path is handed out.
    WriteTestFile(dir.File("taken.rdp"), BytesFromText("someone else's"));
    EXPECT_EQ(WriteUniqueFile(
                  dir.Path(), [](std::uint64_t) { return std::string("taken.rdp"); }, "mine"),
              "");
    EXPECT_EQ(ReadWholeFile(dir.File("taken.rdp")), BytesFromText("someone else's"));

    // Names drawn at random differ from one file to the next.
    const auto hex = [](std::uint64_t number) { return std::to_string(number) + ".rdp"; };
    const std::string first = WriteUniqueFile(dir.Path(), hex, "one");
    const std::string second = WriteUniqueFile(dir.Path(), hex, "two");
    ASSERT_FALSE(first.empty());
    ASSERT_FALSE(second.empty());
    EXPECT_NE(first, second);
    EXPECT_EQ(ReadWholeFile(second), BytesFromText("two"));
}

} // namespace
