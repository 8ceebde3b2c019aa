// Pack stopped by a failing write, on Linux, where a seccomp filter in a child process makes the disk fail at
// a chosen place: whatever the failure leaves behind, every record the table shows is whole and shown once.
#include "ChildProcess.h"
#include "RecordDbFixture.h"

#include <linux/filter.h>
#include <linux/seccomp.h>
#include <map>
#include <sys/prctl.h>
#include <sys/syscall.h>

using namespace RecordDb;

namespace {

// Makes every write of more than a record id that starts at or past `barrier` fail with EIO, so that Pack's
// moves fail there while marking a record deleted still works. The low word of a 64-bit argument comes first.
bool FailMovesFrom(std::uint32_t barrier) {
    constexpr std::uint32_t kSize = offsetof(seccomp_data, args) + 2 * sizeof(std::uint64_t);
    constexpr std::uint32_t kOffset = offsetof(seccomp_data, args) + 3 * sizeof(std::uint64_t);
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pwrite64, 0, 5),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kSize),
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, 4, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, kOffset),
        BPF_JUMP(BPF_JMP | BPF_JGE | BPF_K, barrier, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EIO),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 && ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) == 0;
}

class RecordDbPackFailure : public RecordDbFixture {
protected:
    // Marks the records with the ids in `deleted`, then packs in a child whose moves fail from `barrier` on.
    void PackFailingFrom(const TableImage& table, const std::vector<int>& deleted, std::int64_t barrier) {
        Put("t.edb", table.Build());
        const pid_t child = Spawn([&] {
            if (!Open(Path("t.edb"))) {
                return 10;
            }
            for (const int id : deleted) {
                if (!GoTo(id) || !MarkDeleted()) {
                    return 11;
                }
            }
            if (!FailMovesFrom(static_cast<std::uint32_t>(barrier))) {
                return 12;
            }
            return !Pack() && LastError() == kErrWriteRecordFailed ? 0 : 13;
        });
        ASSERT_EQ(Finish(child), 0) << "the pack did not fail as the filter should make it";
    }

    // The ids of the records the file shows, each checked against the original record of that id.
    std::map<int, int> ShownRecords(const TableImage& table) {
        const Bytes bytes = FileBytes("t.edb");
        const std::int32_t count = ReadI32(bytes, 16);
        std::map<int, int> shown;
        for (std::int32_t index = 0; index < count; ++index) {
            const auto start = static_cast<std::size_t>(table.DataStart() + std::int64_t{index} * table.recordSize);
            const std::int32_t id = ReadI32(bytes, start);
            if (id <= 0) {
                continue;
            }
            ++shown[id];
            const Bytes record(bytes.begin() + static_cast<std::ptrdiff_t>(start),
                               bytes.begin() + static_cast<std::ptrdiff_t>(start) + table.recordSize);
            EXPECT_TRUE(id <= table.recordCount && record == table.records[static_cast<std::size_t>(id - 1)])
                << "record " << id << " at " << index << " is not whole";
        }
        return shown;
    }
};

TEST_F(RecordDbPackFailure, AMoveThatFailsBetweenRunsLeavesEveryRecordWholeAndOnce) {
    // Records 3-5 move up over 2; the move of 7-10 over 6 and the copy of 5 fails.
    const TableImage table = NumberedTable(1016, 10);
    PackFailingFrom(table, {2, 6}, table.DataStart() + 3 * 1016);
    EXPECT_EQ(ShownRecords(table),
              (std::map<int, int>{{1, 1}, {3, 1}, {4, 1}, {5, 1}, {7, 1}, {8, 1}, {9, 1}, {10, 1}}));
}

TEST_F(RecordDbPackFailure, ARecordLargerThanTheBufferThatFailsHalfMovedIsShownOnceFromWhereItWas) {
    // Record 3's first piece reaches the place of record 2, its second does not.
    const TableImage table = NumberedTable(400000, 4);
    PackFailingFrom(table, {2}, table.DataStart() + 400000 + 1);
    EXPECT_EQ(ShownRecords(table), (std::map<int, int>{{1, 1}, {3, 1}, {4, 1}}));
}

} // namespace
