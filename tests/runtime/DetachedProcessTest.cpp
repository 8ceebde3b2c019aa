#include "runtime/DetachedProcess.h"
#include "runtime/Files.h"
#include "support/TempDir.h"

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

std::string WaitForFile(const std::string& path) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(path) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const Bytes data = ReadWholeFile(path);
    return {data.begin(), data.end()};
}

void WriteScript(const std::string& path, const std::string& body) {
    WriteTestFile(path, BytesFromText("#!/bin/sh\n" + body));
    ::chmod(path.c_str(), 0755);
}

TEST(DetachedProcessTest, FindsProgramsAlongPathInOrder) {
    TempDir dir;
    for (const char* sub : {"a", "b"}) {
        std::filesystem::create_directory(dir.File(sub));
    }
    WriteTestFile(dir.File("a/tool"), BytesFromText("not executable"));
    WriteScript(dir.File("b/tool"), "");
    WriteScript(dir.File("a/first"), "");
    WriteScript(dir.File("b/first"), "");
    const char* old = std::getenv("PATH");
    const std::string saved = old != nullptr ? old : "";
    ::setenv("PATH", (dir.File("a") + ":" + dir.File("b")).c_str(), 1);
    EXPECT_EQ(FindOnPath("tool"), dir.File("b/tool"));
    EXPECT_EQ(FindOnPath("first"), dir.File("a/first"));
    EXPECT_EQ(FindOnPath("missing"), "");
    EXPECT_EQ(FindOnPath(""), "");
    ::setenv("PATH", saved.c_str(), 1);
}

TEST(DetachedProcessTest, ChildGetsArgumentsVerbatimAndInputThenEnd) {
    TempDir dir;
    const std::string script = dir.File("record");
    WriteScript(script, "out=\"$(dirname \"$0\")\"\n"
                        "for a in \"$@\"; do printf '[%s]' \"$a\"; done > \"$out/args.part\"\n"
                        "cat > \"$out/input.part\"\n"
                        "mv \"$out/args.part\" \"$out/args\"; mv \"$out/input.part\" \"$out/input\"\n");
    // A long-lived child sees none of the parent's descriptors beyond its three standard ones.
    const int leaked = ::open(script.c_str(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    ASSERT_TRUE(StartDetached(script, {"a b", "$(touch x)", "'", ""}, "line one\nsecret"));
    ::close(leaked);

    EXPECT_EQ(WaitForFile(dir.File("args")), "[a b][$(touch x)]['][]");
    EXPECT_EQ(WaitForFile(dir.File("input")), "line one\nsecret");
    EXPECT_FALSE(std::filesystem::exists(dir.File("x")));
    // The middle process is gone and reaped, and the child is not ours to reap.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
}

// A program started without a standard input hands the input pipe descriptor 0; the client must still read it.
TEST(DetachedProcessTest, InputArrivesWhenTheParentHasNoStandardInput) {
    TempDir dir;
    const std::string script = dir.File("record");
    WriteScript(script,
                "out=\"$(dirname \"$0\")\"\ncat > \"$out/input.part\"\nmv \"$out/input.part\" \"$out/input\"\n");
    const int saved = ::fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    ::close(STDIN_FILENO);
    const Result<void> started = StartDetached(script, {}, "secret\n");
    if (saved >= 0) {
        ::dup2(saved, STDIN_FILENO);
        ::close(saved);
    }
    ASSERT_TRUE(started);
    EXPECT_EQ(WaitForFile(dir.File("input")), "secret\n");
}

TEST(DetachedProcessTest, ChildRunsInItsOwnSessionWithoutInheritedDescriptors) {
    TempDir dir;
    const std::string script = dir.File("probe");
    WriteScript(script, "out=\"$(dirname \"$0\")\"\n"
                        "ls /proc/$$/fd > \"$out/fds.part\"\n"
                        "echo $(cut -d' ' -f6 /proc/$$/stat) $$ > \"$out/sid.part\"\n"
                        "mv \"$out/fds.part\" \"$out/fds\"; mv \"$out/sid.part\" \"$out/sid\"\n");
    const int leaked = ::open(script.c_str(), O_RDONLY);
    ASSERT_GE(leaked, 0);
    ASSERT_TRUE(StartDetached(script, {}, ""));
    ::close(leaked);
    // The shell may hold the script open, but nothing of ours beyond 0, 1 and 2.
    const std::string fds = WaitForFile(dir.File("fds"));
    EXPECT_EQ(fds.find(std::to_string(leaked) + "\n"), std::string::npos) << fds;
    const std::string ids = WaitForFile(dir.File("sid"));
    const auto blank = ids.find(' ');
    ASSERT_NE(blank, std::string::npos);
    EXPECT_EQ(ids.substr(0, blank), ids.substr(blank + 1, ids.size() - blank - 2)) << "not a session leader";
}

TEST(DetachedProcessTest, MissingOrUnrunnableProgramIsReported) {
    TempDir dir;
    // The reason is the one the exec met in the child.
    const Result<void> missing = StartDetached(dir.File("missing"), {}, "");
    EXPECT_FALSE(missing);
    EXPECT_EQ(missing.Reason(), std::errc::no_such_file_or_directory);
    EXPECT_EQ(missing.error().doing, "starting " + dir.File("missing"));
    const Result<WatchedProcess> watched = StartWatched(dir.File("missing"), {}, "");
    ASSERT_FALSE(watched);
    EXPECT_EQ(watched.Reason(), std::errc::no_such_file_or_directory);
    WriteTestFile(dir.File("plain"), BytesFromText("data"));
    EXPECT_EQ(StartDetached(dir.File("plain"), {}, "input").Reason(), std::errc::permission_denied);
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
}

} // namespace
