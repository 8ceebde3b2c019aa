// Several processes saving one ms.ini: every change of each is in the file afterwards. Two saving at full speed
// are driven through a window, in SettingsSyncTest.
#include "settings/SharedSettings.h"

#include "runtime/Files.h"
#include "runtime/ProcessLock.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"
#include "support/AsUser.h"
#include "support/TempDir.h"

#include <chrono>
#include <csignal>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

ServerEntry Entry(const std::string& host) {
    return {host, "3389", "admin", "pw", "", ServerStatus::Unknown};
}

SettingsContent OnDisk(const std::string& path) {
    const SettingsOnDisk disk = ReadSettingsOnDisk(path);
    EXPECT_EQ(disk.state, SettingsOnDisk::State::Read);
    return disk.content;
}

std::set<std::string> HostsIn(const SettingsContent& content) {
    std::set<std::string> hosts;
    for (const ServerEntry& entry : content.servers) {
        hosts.insert(entry.host);
    }
    return hosts;
}

int ExitOf(pid_t child) {
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(SharedSettingsTest, ASaveWaitsForTheLockAndThenMergesWhatTheHolderWrote) {
    TempDir dir;
    const std::string path = dir.File("ms.ini");
    SharedSettingsFile holder(path, {});
    ASSERT_TRUE(holder.Save({{Entry("a")}, {}, ""}, 1s).outcome);

    // Another process read the file before the holder's change and saves its own addition once the lock is
    // held. It is started first, so that it does not inherit the holder's lock.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t waiter = ::fork();
    if (waiter == 0) {
        char byte = 0;
        if (::read(go[0], &byte, 1) != 1) {
            ::_exit(2);
        }
        SharedSettingsFile file(path, {{Entry("a")}, {}, ""});
        const SharedSettingsFile::Saved saved = file.Save({{Entry("a"), Entry("theirs")}, {}, ""}, 20s);
        ::_exit(saved.outcome && !saved.refused ? 0 : 1);
    }
    ProcessLock lock;
    ASSERT_TRUE(lock.Acquire(SharedSettingsFile::LockPathFor(path), 1s));
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    // The waiter must stay out for a while: there is nothing to see of it waiting but that it has not written.
    std::this_thread::sleep_for(300ms);
    // The waiter has not written while the lock is held.
    EXPECT_EQ(HostsIn(OnDisk(path)), (std::set<std::string>{"a"}));
    // What the holder writes under the lock is what the waiter's read then finds and keeps.
    ASSERT_TRUE(SaveSettings({Entry("a"), Entry("holder")}, {true, true}, "pw", path));
    lock.Release();
    EXPECT_EQ(ExitOf(waiter), 0);
    ::close(go[0]);
    ::close(go[1]);
    const SettingsContent content = OnDisk(path);
    EXPECT_EQ(HostsIn(content), (std::set<std::string>{"a", "holder", "theirs"}));
    EXPECT_EQ(content.options, (ConnectionOptions{true, true}));
    EXPECT_EQ(content.startupPassword, "pw");
}

TEST(SharedSettingsTest, TheLockGoesWithAHolderThatDies) {
    TempDir dir;
    const std::string lockPath = SharedSettingsFile::LockPathFor(dir.File("ms.ini"));
    int held[2];
    ASSERT_EQ(::pipe(held), 0);
    const pid_t holder = ::fork();
    if (holder == 0) {
        ::close(held[0]);
        ProcessLock lock;
        if (!lock.Acquire(lockPath, 1s) || ::write(held[1], "x", 1) != 1) {
            ::_exit(1);
        }
        ::pause();
        ::_exit(0);
    }
    ::close(held[1]);
    char byte = 0;
    // The holder says when it has the lock; a holder that failed closes the pipe instead.
    ASSERT_EQ(::read(held[0], &byte, 1), 1);
    ::close(held[0]);
    ProcessLock lock;
    EXPECT_EQ(lock.Acquire(lockPath, 50ms).Reason(), std::errc::device_or_resource_busy);
    ::kill(holder, SIGKILL);
    ::waitpid(holder, nullptr, 0);
    EXPECT_TRUE(lock.Acquire(lockPath, 1s));
}

TEST(SharedSettingsTest, AFileReplacedByWhatIsNoSettingsIsNeitherMergedNorOverwritten) {
    TempDir dir;
    const std::string path = dir.File("ms.ini");
    SharedSettingsFile file(path, {{Entry("a")}, {}, ""});
    const Bytes foreign = BytesFromText("a file of another program");
    WriteTestFile(path, foreign);
    const SharedSettingsFile::Saved saved = file.Save({{Entry("a"), Entry("b")}, {}, ""}, 1s);
    EXPECT_TRUE(saved.refused);
    EXPECT_EQ(ReadWholeFile(path), foreign);

    // A file that is gone takes nothing from the list: the next save writes it whole again.
    ASSERT_EQ(::unlink(path.c_str()), 0);
    ASSERT_TRUE(file.Save({{Entry("a"), Entry("b")}, {}, ""}, 1s).outcome);
    EXPECT_EQ(HostsIn(OnDisk(path)), (std::set<std::string>{"a", "b"}));
}

TEST(SharedSettingsTest, ALinkAnotherUserPlantedIsNotFollowed) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to act as a second user";
    }
    // The victim's own file, in a directory only the victim may enter.
    TempDir home;
    GiveToOrdinaryUser(home.Path());
    const std::string victimFile = home.File("secret");
    WriteTestFile(victimFile, BytesFromText("the victim's own data"));
    ASSERT_EQ(::chown(victimFile.c_str(), OrdinaryUid(), OrdinaryUid()), 0);
    ASSERT_EQ(::chmod(home.Path().c_str(), 0700), 0);
    // A shared, sticky program directory where another user (root here, for the test) planted the link.
    TempDir shared;
    ASSERT_EQ(::chmod(shared.Path().c_str(), 01777), 0);
    const std::string path = shared.File("ms.ini");
    ASSERT_EQ(::symlink(victimFile.c_str(), path.c_str()), 0);
    ASSERT_EQ(::lchown(path.c_str(), 0, 0), 0);
    const uid_t planter = OrdinaryUid() + 1;
    ASSERT_EQ(::lchown(path.c_str(), planter, planter), 0);

    const int result = RunAsOrdinaryUser([&] {
        SharedSettingsFile file(path, {});
        const SharedSettingsFile::Saved saved = file.Save({{Entry("a")}, {}, ""}, 1s);
        if (ReadSettingsOnDisk(path).state != SettingsOnDisk::State::Refused) {
            return 2;
        }
        return saved.refused || !saved.outcome ? 0 : 1;
    });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(TextFromBytes(ReadWholeFile(victimFile)), "the victim's own data");
}

} // namespace
