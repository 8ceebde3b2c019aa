#include "runtime/UserRegistry.h"
#include "runtime/Files.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const std::string kKey = "Software\\Microsoft\\Terminal Server Client\\LocalDevices";

TEST(UserRegistryTest, ValuesAreKeptPerKeyAndName) {
    TempDir dir;
    const std::string store = dir.File("registry");
    EXPECT_FALSE(RegistryQueryDword(kKey, "host", store));

    ASSERT_TRUE(RegistrySetDword(kKey, "host", 76, store));
    ASSERT_TRUE(RegistrySetDword(kKey, "other", 1, store));
    ASSERT_TRUE(RegistrySetDword("Software\\Else", "host", 2, store));
    EXPECT_EQ(RegistryQueryDword(kKey, "host", store), 76u);
    EXPECT_EQ(RegistryQueryDword(kKey, "other", store), 1u);
    EXPECT_EQ(RegistryQueryDword("Software\\Else", "host", store), 2u);

    // Names and keys match with letters in either case, and setting again replaces rather than adds.
    ASSERT_TRUE(
        RegistrySetDword("SOFTWARE\\microsoft\\Terminal Server Client\\LocalDevices", "HOST", 0xFFFFFFFFu, store));
    EXPECT_EQ(RegistryQueryDword(kKey, "host", store), 0xFFFFFFFFu);
    EXPECT_EQ(RegistryQueryDword(kKey, "other", store), 1u);

    struct stat info {};
    ASSERT_EQ(::stat(store.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST(UserRegistryTest, AwkwardNamesRoundTripAndForeignLinesSurvive) {
    TempDir dir;
    const std::string store = dir.File("registry");
    WriteTestFile(store, BytesFromText("a line from a later version\n"));
    const std::string awkward = "tab\there\nnew %41 line\r\x01";
    const std::string gbk = "\xB7\xFE\xCE\xF1\xC6\xF7"; // three two-byte characters
    ASSERT_TRUE(RegistrySetDword(kKey, awkward, 5, store));
    ASSERT_TRUE(RegistrySetDword(kKey, gbk, 6, store));
    EXPECT_EQ(RegistryQueryDword(kKey, awkward, store), 5u);
    EXPECT_EQ(RegistryQueryDword(kKey, gbk, store), 6u);
    EXPECT_FALSE(RegistryQueryDword(kKey, "new A line", store));

    const Bytes text = ReadWholeFile(store);
    EXPECT_EQ(std::string(text.begin(), text.begin() + 28), "a line from a later version\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 3);

    EXPECT_FALSE(RegistrySetDword(kKey, "h", 1, ""));
    EXPECT_FALSE(RegistryQueryDword(kKey, "h", ""));
}

// A store that cannot be read whole is left as it is: rewriting it from what was read would drop its values.
TEST(UserRegistryTest, AStoreThatCannotBeReadIsNotRewritten) {
    TempDir dir;
    const std::string store = dir.File("registry");
    ASSERT_TRUE(RegistrySetDword(kKey, "kept", 76, store));
    const off_t size = static_cast<off_t>(kReadLimit) + 1;
    ASSERT_EQ(::truncate(store.c_str(), size), 0);

    EXPECT_FALSE(RegistrySetDword(kKey, "new", 76, store));
    struct stat info {};
    ASSERT_EQ(::stat(store.c_str(), &info), 0);
    EXPECT_EQ(info.st_size, size);
}

TEST(UserRegistryTest, ProgramsSettingAtOnceKeepEachOthersValues) {
    TempDir dir;
    const std::string store = dir.File("registry");
    constexpr int kPerChild = 40;
    pid_t children[2];
    for (int c = 0; c < 2; ++c) {
        children[c] = ::fork();
        ASSERT_GE(children[c], 0);
        if (children[c] == 0) {
            bool ok = true;
            for (int i = 0; i < kPerChild; ++i) {
                ok = RegistrySetDword(kKey, "host" + std::to_string(c) + "-" + std::to_string(i),
                                      static_cast<std::uint32_t>(i), store) &&
                     ok;
            }
            ::_exit(ok ? 0 : 1);
        }
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < kPerChild; ++i) {
            EXPECT_EQ(RegistryQueryDword(kKey, "host" + std::to_string(c) + "-" + std::to_string(i), store),
                      static_cast<std::uint32_t>(i));
        }
    }
}

} // namespace
