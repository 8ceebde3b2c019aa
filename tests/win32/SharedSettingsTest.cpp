#include "settings/SharedSettings.h"
#include "Win32TestSupport.h"
#include "runtime/Files.h"
#include "runtime/ProcessLock.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>
#include <set>

namespace {

// Two processes saving one ms.ini at full speed keep every server either added: the save lock is LockFileEx's,
// which holds between processes and goes with the handle.
TEST(Win32SharedSettings, TwoProcessesAddingKeepEveryServer) {
    const TempDir dir;
    const std::string path = dir.Path() + "\\ms.ini";
    constexpr int kEach = 40;
    HANDLE children[2];
    for (int i = 0; i < 2; ++i) {
        children[i] = StartChild(BesideTest("tolvar_win32_child.exe"),
                                 {"addservers", path, std::to_string(i + 1), std::to_string(kEach)});
        ASSERT_NE(children[i], nullptr);
    }
    for (const HANDLE child : children) {
        EXPECT_EQ(WaitForChild(child, std::chrono::seconds(120)), 0);
    }
    const SettingsOnDisk disk = ReadSettingsOnDisk(path);
    ASSERT_EQ(disk.state, SettingsOnDisk::State::Read);
    std::set<std::string> servers;
    for (const ServerEntry& entry : disk.content.servers) {
        servers.insert(entry.host + ":" + entry.port);
    }
    EXPECT_EQ(servers.size(), 2u * kEach);
    EXPECT_EQ(disk.content.servers.size(), 2u * kEach);
}

TEST(Win32SharedSettings, ALockHeldByAnotherProcessKeepsASaveWaitingUntilItEnds) {
    const TempDir dir;
    const std::string path = dir.Path() + "\\ms.ini";
    const HANDLE holder = StartChild(BesideTest("tolvar_win32_child.exe"), {"holdlock", path, "60000"});
    ASSERT_NE(holder, nullptr);
    EXPECT_TRUE(WaitUntilHeld(path, std::chrono::seconds(30)));
    ProcessLock lock;
    EXPECT_EQ(lock.Acquire(SharedSettingsFile::LockPathFor(path), std::chrono::milliseconds(100)).Reason(),
              std::errc::device_or_resource_busy);
    Release(path);
    EXPECT_EQ(WaitForChild(holder, std::chrono::seconds(30)), 0);
    EXPECT_TRUE(lock.Acquire(SharedSettingsFile::LockPathFor(path), std::chrono::seconds(1)));

    // A replace gives the file another stamp, which is how a window sees another's save.
    ASSERT_TRUE(ReplaceFileAtomically(path, Bytes{1, 2, 3}, 0600));
    const FileStamp before = StampOf(path);
    EXPECT_TRUE(before.exists);
    ASSERT_TRUE(ReplaceFileAtomically(path, Bytes{1, 2, 3}, 0600));
    EXPECT_NE(StampOf(path), before);
    EXPECT_FALSE(StampOf(path + "-missing").exists);
}

} // namespace
