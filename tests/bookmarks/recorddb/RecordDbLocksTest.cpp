#include "ChildProcess.h"
#include "RecordDbFixture.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "runtime/Gbk.h"

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <set>
#include <thread>
#include <unistd.h>

using namespace RecordDb;

namespace {

// A lock held through a separate open of the file, as another process would hold it.
class ForeignLock {
public:
    ForeignLock(const std::string& path, off_t offset, short type = F_WRLCK)
        : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC)) {
        struct flock range {};
        range.l_type = type;
        range.l_whence = SEEK_SET;
        range.l_start = offset;
        range.l_len = 1;
        EXPECT_EQ(::fcntl(fd_, F_OFD_SETLK, &range), 0);
    }
    ~ForeignLock() { ::close(fd_); }
    ForeignLock(const ForeignLock&) = delete;
    ForeignLock& operator=(const ForeignLock&) = delete;

    // Lets go after `ms` milliseconds, from another thread: the delay is the point, so that the operation under
    // test is already waiting for the lock when it goes.
    std::thread ReleaseLater(int ms) {
        return std::thread([this, ms] {
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            ::close(fd_);
            fd_ = -1;
        });
    }

private:
    int fd_;
};

class RecordDbLocks : public RecordDbFixture {};

TEST_F(RecordDbLocks, FourProcessesAppendingAtOnceLoseNothing) {
    Put("t.edb", BookmarkTable().Build());
    Pipe start;
    std::vector<pid_t> children;
    for (int process = 0; process < 4; ++process) {
        children.push_back(Spawn([&, process] {
            if (!start.Wait()) {
                return 9;
            }
            SetLockWaitMs(60000);
            if (!Open("t.edb")) {
                return 10;
            }
            for (int i = 0; i < 1000; ++i) {
                if (!AppendBlank()) {
                    return 11;
                }
                if (!WriteField(Gbk::FromUtf8("名称"), "p" + std::to_string(process) + "-" + std::to_string(i))) {
                    return 12;
                }
            }
            CloseAll();
            return 0;
        }));
    }
    start.Send(4);
    for (const pid_t child : children) {
        EXPECT_EQ(Finish(child), 0);
    }

    ASSERT_TRUE(Open("t.edb"));
    ASSERT_EQ(RecordCount(), 4000);
    const Bytes bytes = FileBytes("t.edb");
    ASSERT_EQ(bytes.size(), 260u + 4000 * 1016);
    EXPECT_EQ(ReadI32(bytes, 20), 4001);
    std::set<std::int32_t> ids;
    std::set<std::string> names;
    for (int record = 0; record < 4000; ++record) {
        ids.insert(ReadI32(bytes, 260 + 1016 * static_cast<std::size_t>(record)));
        names.insert(std::get<std::string>(ReadField(Gbk::FromUtf8("名称"))));
        Skip();
    }
    EXPECT_EQ(ids.size(), 4000u);
    EXPECT_EQ(*ids.begin(), 1);
    EXPECT_EQ(*ids.rbegin(), 4000);
    EXPECT_EQ(names.size(), 4000u);
    EXPECT_EQ(names.count("p3-999"), 1u);
}

TEST_F(RecordDbLocks, ExclusiveOpenShutsOthersOutUntilItCloses) {
    Put("t.edb", DefaultBookmarkImage());
    Pipe opened;
    Pipe release;
    const pid_t child = Spawn([&] {
        if (!Open("t.edb", {}, false, ShareMode::Exclusive)) {
            return 10;
        }
        opened.Send();
        if (!release.Wait()) {
            return 9;
        }
        // Hold on a little longer, so the other side has to retry.
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        CloseAll();
        return 0;
    });
    ASSERT_TRUE(opened.Wait());
    EXPECT_FALSE(Open("t.edb"));
    EXPECT_EQ(LastError(), kErrSharingViolation);
    EXPECT_FALSE(Open("t.edb", {}, true));
    EXPECT_EQ(LastError(), kErrSharingViolation);

    SetLockWaitMs(30000);
    release.Send();
    EXPECT_TRUE(Open("t.edb")) << LastError();
    EXPECT_EQ(Finish(child), 0);

    // And the other way round: an exclusive open cannot join a shared one.
    const pid_t second = Spawn([] {
        CloseAll(); // the parent's table, inherited; its locks stay with the parent's open
        SetLockWaitMs(0);
        const bool joined = Open("t.edb", {}, false, ShareMode::Exclusive);
        return joined ? 1 : -LastError();
    });
    EXPECT_EQ(Finish(second), -kErrSharingViolation);
}

TEST_F(RecordDbLocks, ShareModesFollowWhatEachOpenDoes) {
    Put("t.edb", DefaultBookmarkImage());
    Pipe opened;
    Pipe release;
    const pid_t child = Spawn([&] {
        if (!Open("t.edb", {}, true, ShareMode::DenyWrite)) {
            return 10;
        }
        opened.Send();
        return release.Wait() ? 0 : 9;
    });
    ASSERT_TRUE(opened.Wait());
    // Another reader that denies writing fits beside a reader that denies writing.
    EXPECT_TRUE(Open("t.edb", {}, true, ShareMode::DenyWrite)) << LastError();
    CloseAll();
    EXPECT_TRUE(Open("t.edb", {}, true)) << LastError();
    CloseAll();
    EXPECT_FALSE(Open("t.edb"));
    EXPECT_EQ(LastError(), kErrSharingViolation);
    EXPECT_FALSE(Open("t.edb", {}, true, ShareMode::DenyRead));
    EXPECT_EQ(LastError(), kErrSharingViolation);
    release.Send();
    EXPECT_EQ(Finish(child), 0);
    EXPECT_TRUE(Open("t.edb", {}, false, ShareMode::DenyRead)) << LastError();
}

TEST_F(RecordDbLocks, OperationsWaitForLocksHeldElsewhere) {
    const std::string path = Put("t.edb", DefaultBookmarkImage());
    ASSERT_TRUE(Open("t.edb"));
    {
        ForeignLock header(path, 16);
        EXPECT_FALSE(AppendBlank());
        EXPECT_EQ(LastError(), kErrLockViolation);
        EXPECT_EQ(FileBytes("t.edb"), DefaultBookmarkImage());
        // Counting waits at least two seconds whatever the wait setting.
        std::thread release = header.ReleaseLater(200);
        EXPECT_EQ(RecordCount(), 1);
        EXPECT_EQ(LastError(), kOk);
        release.join();
    }
    {
        ForeignLock record(path, 260);
        EXPECT_EQ(ReadField(Gbk::FromUtf8("名称")), Value(std::string()));
        EXPECT_EQ(LastError(), kErrLockViolation);
        EXPECT_FALSE(MarkDeleted());
        EXPECT_EQ(LastError(), kErrLockViolation);
        EXPECT_FALSE(Pack());
        EXPECT_EQ(LastError(), kErrLockViolation);
        EXPECT_TRUE(AppendBlank()) << "another record's lock does not matter";
        ASSERT_TRUE(GoTo(1));
        SetLockWaitMs(30000);
        std::thread release = record.ReleaseLater(200);
        EXPECT_TRUE(WriteField(Gbk::FromUtf8("名称"), std::string("waited")));
        release.join();
        EXPECT_EQ(ReadField(Gbk::FromUtf8("名称")), Value(std::string("waited")));
    }
    SetLockWaitMs(0);
    CloseAll();
    ForeignLock record(path, 260 + 1016);
    EXPECT_FALSE(Open("t.edb")) << "the open's own whole-file lock";
    EXPECT_EQ(LastError(), kErrLockViolation);
    // A table that shares with nobody takes no locks at all.
    ASSERT_TRUE(Open("t.edb", {}, false, ShareMode::Exclusive)) << LastError();
    ASSERT_TRUE(GoTo(2));
    EXPECT_TRUE(MarkDeleted());
    EXPECT_TRUE(Pack());
    EXPECT_EQ(RecordCount(), 1);
}

TEST_F(RecordDbLocks, ReadOnlyTablesShareReadsButStillExcludeWriters) {
    const std::string path = Put("t.edb", DefaultBookmarkImage());
    const std::string name = Gbk::FromUtf8("名称");
    ASSERT_TRUE(Open("t.edb", {}, true));
    {
        ForeignLock reader(path, 260, F_RDLCK);
        EXPECT_EQ(ReadField(name), Value(Gbk::FromUtf8("百度"))) << LastError();
    }
    CloseAll();
    ASSERT_TRUE(Open("t.edb"));
    ForeignLock reader(path, 260, F_RDLCK);
    EXPECT_FALSE(WriteField(name, std::string("x")));
    EXPECT_EQ(LastError(), kErrLockViolation);
}

TEST_F(RecordDbLocks, LocksAreCountedAndGiveWayTogether) {
    // After a pack (whole-file lock) and appends (header and record locks), inside a table lock of their own,
    // nothing stays locked.
    const std::string path = Put("t.edb", DefaultBookmarkImage());
    ASSERT_TRUE(Open("t.edb"));
    ASSERT_TRUE(LockTable());
    ASSERT_TRUE(AppendBlank());
    ASSERT_TRUE(MarkDeleted());
    ASSERT_TRUE(Pack());
    ASSERT_EQ(RecordCount(), 1);
    const pid_t other = Spawn([&] {
        CloseAll(); // the parent's table, inherited; its locks stay with the parent's open
        return Open("t.edb") ? 1 : -LastError();
    });
    EXPECT_EQ(Finish(other), -kErrLockViolation) << "the table lock outlasts the pack's own";
    UnlockTable();
    const int probe = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0x7FFFFFFF;
    EXPECT_EQ(::fcntl(probe, F_OFD_GETLK, &range), 0);
    EXPECT_EQ(range.l_type, F_UNLCK);
    ::close(probe);
}

} // namespace
