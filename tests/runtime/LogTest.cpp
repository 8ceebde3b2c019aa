#include "runtime/Log.h"

#include "runtime/Files.h"
#include "runtime/ProgramDirectory.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

TEST(LogTest, FailuresReachTheWriterWithTheSystemsReasonAndNothingWithoutOne) {
    std::vector<std::string> lines;
    Log::SetWriter([&](std::string_view where, std::string_view what) {
        lines.push_back(std::string(where) + " " + std::string(what));
    });
    // The program's copy of the bookmark file cannot be carried to a per-user directory that is not there.
    TempDir program;
    WriteTestFile(program.File("websc.edb"), {'b'});
    const DataDirectories directories{program.Path(), program.File("missing")};
    static_cast<void>(directories.EditablePath("websc.edb"));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("files copying websc.edb", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find("(2)"), std::string::npos) << lines[0];

    Log::SetWriter({});
    EXPECT_FALSE(Log::Enabled());
    Log::Failure("files", "nobody reads this");
    EXPECT_EQ(lines.size(), 1u);
}

} // namespace
