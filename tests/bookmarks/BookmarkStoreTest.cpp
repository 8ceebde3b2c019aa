#include "bookmarks/BookmarkStore.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "bookmarks/recorddb/RecordDb.h"
#include "recorddb/ChildProcess.h"
#include "recorddb/TableImage.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

using DeleteResult = BookmarkStore::DeleteResult;

// Another instance, in a child process, that tries to delete record `index` the moment this process's add or
// delete reaches its locked step, without waiting for the file, and deletes it through the store once `action`
// has returned. 0 when it was kept out at first and its own delete then went through.
int WithAnotherInstanceDeleting(const std::string& path, int index, const Bookmark& victim,
                                const std::function<void()>& action) {
    Pipe go;
    Pipe tried;
    Pipe again;
    const pid_t other = Spawn([&] {
        RecordDb::SetLockWaitMs(0);
        if (!go.Wait()) {
            return 9;
        }
        const bool gotIn =
            RecordDb::Open(path) && RecordDb::GoTo(index + 1) && RecordDb::MarkDeleted() && RecordDb::Pack();
        RecordDb::CloseAll();
        tried.Send();
        if (gotIn) {
            return 1;
        }
        if (!again.Wait()) {
            return 9;
        }
        return BookmarkStore(path).Delete(index, victim) == DeleteResult::Deleted ? 0 : 2;
    });
    BookmarkStore::SetLockedStepHook([&] {
        go.Send();
        EXPECT_TRUE(tried.Wait());
    });
    action();
    BookmarkStore::SetLockedStepHook({});
    again.Send();
    return Finish(other);
}

class BookmarkStoreTest : public ::testing::Test {
protected:
    void TearDown() override { RecordDb::CloseAll(); }

    // A bookmark file holding `count` bookmarks "n<i>" / "a<i>".
    void PutBookmarks(int count) {
        WriteTestFile(path_, BookmarkTable().Build());
        for (int i = 0; i < count; ++i) {
            ASSERT_TRUE(store_.Add(Numbered(i)).has_value());
        }
    }
    static Bookmark Numbered(int i) { return {"n" + std::to_string(i), "a" + std::to_string(i)}; }
    Bytes FileBytes() const { return ReadWholeFile(path_); }

    TempDir dir_{true};
    std::string path_ = dir_.File("websc.edb");
    BookmarkStore store_;
};

TEST_F(BookmarkStoreTest, PathIsTheWorkingDirectorysWebscEdb) {
    EXPECT_EQ(BookmarkFilePath(), std::filesystem::current_path().string() + "/websc.edb");
    EXPECT_EQ(store_.Path(), path_);
    EXPECT_EQ(BookmarkStore("/x/y.edb").Path(), "/x/y.edb");
}

TEST_F(BookmarkStoreTest, ALinkWhoseFileIsMissingGetsTheDefaultFileAtItsTarget) {
    std::filesystem::create_directory(dir_.File("kept"));
    std::filesystem::create_symlink("kept/bookmarks.edb", path_);
    EXPECT_EQ(store_.Load().size(), 1u);
    EXPECT_TRUE(std::filesystem::is_symlink(path_));
    EXPECT_EQ(ReadWholeFile(dir_.File("kept/bookmarks.edb")), DefaultBookmarkImage());
}

TEST_F(BookmarkStoreTest, TheDefaultFileIsForItsOwnerOnly) {
    const mode_t previous = ::umask(077);
    EXPECT_EQ(store_.Load().size(), 1u);
    ::umask(previous);
    struct stat info {};
    ASSERT_EQ(::stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
}

TEST_F(BookmarkStoreTest, AStoreThatMayNotWriteLeavesEveryByteAsItWas) {
    const BookmarkStore reader(path_, false);
    EXPECT_TRUE(reader.Load().empty());
    EXPECT_FALSE(std::filesystem::exists(path_)) << "no default file";

    PutBookmarks(2);
    Bytes file = FileBytes();
    file.push_back(0); // a cut-off record, which an open for writing would cut away
    WriteTestFile(path_, file);
    EXPECT_EQ(reader.Load(), (std::vector<Bookmark>{Numbered(0), Numbered(1)}));
    EXPECT_FALSE(reader.Add(Numbered(2)).has_value());
    EXPECT_EQ(reader.Delete(0, Numbered(0)), BookmarkStore::DeleteResult::Failed);
    EXPECT_EQ(FileBytes(), file);
}

TEST_F(BookmarkStoreTest, AddsAppendInFileOrderAndLongTextsAreCutToTheirFields) {
    PutBookmarks(2);
    // 300 two-byte characters: the cut at 500 bytes falls between characters.
    std::string longName;
    for (int i = 0; i < 300; ++i) {
        longName += Gbk::FromUtf8("名");
    }
    const std::string longAddress(700, 'x');
    const std::optional<Bookmark> stored = store_.Add({longName, longAddress});
    ASSERT_TRUE(stored.has_value());
    EXPECT_EQ(stored->name, longName.substr(0, 500));
    EXPECT_EQ(stored->address, longAddress.substr(0, 512));
    EXPECT_EQ(store_.ReadAll(), (std::vector<Bookmark>{Numbered(0), Numbered(1), *stored}));
    EXPECT_EQ(FileBytes().size(), 260u + 3 * 1016);

    // One byte more in front, and both cuts would fall inside a character: they go before it instead.
    const std::optional<Bookmark> shifted = store_.Add({"-" + longName, "-" + longName});
    ASSERT_TRUE(shifted.has_value());
    EXPECT_EQ(shifted->name, ("-" + longName).substr(0, 499));
    EXPECT_EQ(shifted->address, ("-" + longName).substr(0, 511));
    EXPECT_EQ(store_.ReadAll().back(), *shifted);
}

TEST_F(BookmarkStoreTest, DeleteRemovesOnlyAMatchingRecordAndPacksAtOnce) {
    PutBookmarks(4);
    EXPECT_EQ(store_.Delete(1, Numbered(1)), BookmarkStore::DeleteResult::Deleted);
    EXPECT_EQ(store_.ReadAll(), (std::vector<Bookmark>{Numbered(0), Numbered(2), Numbered(3)}));
    EXPECT_EQ(FileBytes().size(), 260u + 3 * 1016);

    // A row that no longer names its record: another bookmark there, a changed address, or a record gone
    // (GoTo would settle on the last record instead).
    const Bytes before = FileBytes();
    EXPECT_EQ(store_.Delete(1, Numbered(1)), BookmarkStore::DeleteResult::Changed);
    EXPECT_EQ(store_.Delete(1, {"n2", "a1"}), BookmarkStore::DeleteResult::Changed);
    EXPECT_EQ(store_.Delete(3, Numbered(3)), BookmarkStore::DeleteResult::Changed);
    EXPECT_EQ(store_.Delete(-1, Numbered(0)), BookmarkStore::DeleteResult::Changed);
    EXPECT_EQ(FileBytes(), before);

    EXPECT_EQ(store_.Delete(2, Numbered(3)), BookmarkStore::DeleteResult::Deleted);
    EXPECT_EQ(store_.Delete(0, Numbered(0)), BookmarkStore::DeleteResult::Deleted);
    EXPECT_EQ(store_.ReadAll(), std::vector<Bookmark>{Numbered(2)});
    EXPECT_EQ(store_.Delete(0, Numbered(2)), BookmarkStore::DeleteResult::Deleted);
    const Bytes empty = FileBytes();
    EXPECT_EQ(empty.size(), 260u);
    EXPECT_EQ(ReadI32(empty, 16), 0);
    EXPECT_EQ(ReadI32(empty, 20), 1 + 4) << "ids are not given out again";
}

TEST_F(BookmarkStoreTest, NoOtherInstanceGetsInBetweenTheStepsOfADeleteOrAnAdd) {
    PutBookmarks(5);
    // Had it packed away record 1 after this delete found record 3 as shown, record 4 would have moved there.
    EXPECT_EQ(WithAnotherInstanceDeleting(path_, 1, Numbered(1),
                                          [&] { EXPECT_EQ(store_.Delete(3, Numbered(3)), DeleteResult::Deleted); }),
              0);
    EXPECT_EQ(store_.ReadAll(), (std::vector<Bookmark>{Numbered(0), Numbered(2), Numbered(4)}));
    // Had it packed away record 0 after this add appended its blank record, the texts would miss it.
    EXPECT_EQ(
        WithAnotherInstanceDeleting(path_, 0, Numbered(0), [&] { EXPECT_EQ(store_.Add(Numbered(5)), Numbered(5)); }),
        0);
    EXPECT_EQ(store_.ReadAll(), (std::vector<Bookmark>{Numbered(2), Numbered(4), Numbered(5)}));
}

TEST_F(BookmarkStoreTest, FailuresAreReportedAndLeaveTheFileAsItWas) {
    // Neither add nor delete creates a missing file.
    EXPECT_FALSE(store_.Add(Numbered(0)).has_value());
    EXPECT_EQ(store_.Delete(0, Numbered(0)), BookmarkStore::DeleteResult::Failed);
    EXPECT_FALSE(std::filesystem::exists(path_));

    WriteTestFile(path_, BytesFromText("not a database"));
    EXPECT_FALSE(store_.Add(Numbered(0)).has_value());
    EXPECT_EQ(TextFromBytes(FileBytes()), "not a database");

    // A table whose name field takes numbers: the half-written record is taken out again.
    TableImage numbers = BookmarkTable();
    numbers.fields[0].type = 3;
    numbers.AddRecord(1);
    WriteTestFile(path_, numbers.Build());
    EXPECT_FALSE(store_.Add(Numbered(0)).has_value());
    const Bytes after = FileBytes();
    EXPECT_EQ(after.size(), 260u + 1016);
    EXPECT_EQ(ReadI32(after, 16), 1);
}

} // namespace
