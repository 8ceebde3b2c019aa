#include "runtime/DataProtection.h"
#include "runtime/Files.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

Bytes Secret() {
    Bytes data(512);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i * 31 + 5);
    }
    return data;
}

TEST(DataProtectionTest, RoundTripUnderTheSameKey) {
    TempDir dir;
    const std::string key = dir.File("protect.key");
    const Bytes secret = Secret();
    const auto sealed = ProtectData(secret, "psw", key);
    ASSERT_TRUE(sealed);
    EXPECT_EQ(std::search(sealed->begin(), sealed->end(), secret.begin(), secret.begin() + 16), sealed->end())
        << "the data shows through";

    std::string description;
    EXPECT_EQ(UnprotectData(*sealed, &description, key), Secret());
    EXPECT_EQ(description, "psw");

    // The key was made on first use, for the user alone; sealing again uses it with a fresh nonce.
    struct stat info {};
    ASSERT_EQ(::stat(key.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(info.st_size, 32);
    const auto again = ProtectData(Secret(), "psw", key);
    ASSERT_TRUE(again);
    EXPECT_NE(*again, *sealed);
    EXPECT_EQ(UnprotectData(*again, nullptr, key), Secret());
}

TEST(DataProtectionTest, AnotherKeyOrAlteredBytesDoNotOpen) {
    TempDir dir;
    const auto sealed = ProtectData(Secret(), "psw", dir.File("a.key"));
    ASSERT_TRUE(sealed);
    ASSERT_TRUE(ProtectData({}, "", dir.File("b.key")));
    EXPECT_FALSE(UnprotectData(*sealed, nullptr, dir.File("b.key")));

    for (const std::size_t at : {std::size_t{0}, std::size_t{10}, sealed->size() - 1}) {
        Bytes altered = *sealed;
        altered[at] ^= 1;
        EXPECT_FALSE(UnprotectData(altered, nullptr, dir.File("a.key"))) << at;
    }
    EXPECT_FALSE(UnprotectData(Bytes(sealed->begin(), sealed->begin() + 20), nullptr, dir.File("a.key")));
}

TEST(DataProtectionTest, NoUsableKeyMeansNoProtection) {
    TempDir dir;
    EXPECT_FALSE(ProtectData(Secret(), "psw", ""));

    // Opening never makes a key, so a missing key stays missing.
    const auto sealed = ProtectData(Secret(), "psw", dir.File("a.key"));
    ASSERT_TRUE(sealed);
    EXPECT_FALSE(UnprotectData(*sealed, nullptr, dir.File("missing.key")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("missing.key")));

    // A key others can read, or of the wrong size, is refused rather than trusted.
    WriteTestFile(dir.File("open.key"), Bytes(32, 1));
    ::chmod(dir.File("open.key").c_str(), 0644);
    EXPECT_FALSE(ProtectData(Secret(), "psw", dir.File("open.key")));
    WriteTestFile(dir.File("short.key"), Bytes(16, 1));
    ::chmod(dir.File("short.key").c_str(), 0600);
    EXPECT_FALSE(ProtectData(Secret(), "psw", dir.File("short.key")));
    // A link in place of the key could point anywhere.
    ::symlink(dir.File("a.key").c_str(), dir.File("link.key").c_str());
    EXPECT_FALSE(UnprotectData(*sealed, nullptr, dir.File("link.key")));
    // A FIFO in its place is refused at once; the child is killed if the open blocks.
    ASSERT_EQ(::mkfifo(dir.File("fifo.key").c_str(), 0600), 0);
    GiveToOrdinaryUser(dir.Path());
    EXPECT_EQ(RunAsOrdinaryUser([&] { return ProtectData(Secret(), "psw", dir.File("fifo.key")) ? 1 : 0; }), 0);
}

} // namespace
