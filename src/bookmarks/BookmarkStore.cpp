#include "bookmarks/BookmarkStore.h"

#include "bookmarks/DefaultBookmarkImage.h"
#include "bookmarks/recorddb/RecordDb.h"
#include "runtime/FatalError.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/Log.h"
#include "runtime/NewFile.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <thread>

namespace {

const std::string kNameField = Gbk::FromUtf8("名称");
const std::string kAddressField = Gbk::FromUtf8("网址");

constexpr int kTypeMismatchCode = 5;
// The field widths of the bookmark table, as the default file has them. The engine cuts a longer text at the
// byte count wherever it falls, so the store cuts it first where a character ends.
constexpr std::size_t kNameWidth = 500;
constexpr std::size_t kAddressWidth = 512;
// Another instance of the program may hold a lock on the file for a moment; waiting this long for it keeps
// its adds and deletes from failing ours.
constexpr int kLockWaitMs = 2000;
// Lets a file that another instance is just creating settle before it is read.
constexpr auto kSettleTime = std::chrono::milliseconds(100);

// Sets the lock wait for one operation and puts the previous one back.
class LockWait {
public:
    LockWait()
        : previous_(RecordDb::LockWaitMs()) {
        RecordDb::SetLockWaitMs(kLockWaitMs);
    }
    ~LockWait() { RecordDb::SetLockWaitMs(previous_); }
    LockWait(const LockWait&) = delete;
    LockWait& operator=(const LockWait&) = delete;

private:
    int previous_;
};

std::function<void()>& LockedStepHook() {
    static std::function<void()> hook;
    return hook;
}

void RunLockedStepHook() {
    if (const std::function<void()>& hook = LockedStepHook()) {
        hook();
    }
}

// The named field of the current record, which must be a text; anything else ends the program.
std::string ReadText(const std::string& field) {
    RecordDb::Value value = RecordDb::ReadField(field);
    auto* text = std::get_if<std::string>(&value);
    if (text == nullptr) {
        FatalError(kTypeMismatchCode, Gbk::FromUtf8("数据或数组类型不匹配"));
    }
    return std::move(*text);
}

Bookmark ReadCurrent() {
    Bookmark bookmark;
    bookmark.name = ReadText(kNameField);
    bookmark.address = ReadText(kAddressField);
    return bookmark;
}

} // namespace

std::string CutAtCharacter(std::string_view text, std::size_t maxBytes) {
    const std::size_t limit = std::min(maxBytes, text.size());
    std::size_t end = 0;
    while (end < limit) {
        const std::size_t length = Gbk::CharLength(text, end);
        // A first byte with nothing after it is what an earlier cut left of a character.
        if (end + length > limit || (length == 1 && static_cast<unsigned char>(text[end]) >= 0x80)) {
            break;
        }
        end += length;
    }
    return std::string(text.substr(0, end));
}

std::string BookmarkFilePath() {
    std::error_code failed;
    const std::filesystem::path directory = std::filesystem::current_path(failed);
    return (failed ? std::string(".") : directory.string()) + "/" + kBookmarkFileName;
}

BookmarkStore::BookmarkStore(std::string path, bool writable)
    : path_(std::move(path))
    , writable_(writable) {}

std::string BookmarkStore::Path() const {
    return path_ ? *path_ : BookmarkFilePath();
}

std::vector<Bookmark> BookmarkStore::Load() const {
    const std::string path = Path();
    std::error_code ignored;
    if (writable_ && !std::filesystem::exists(path, ignored)) {
        // A failure shows as an empty list, like any file that cannot be read. A link whose file is missing
        // gets its file, as the settings file does, rather than a list that can never be stored.
        // Readable by its owner only, as the settings file is.
        if (Result<void> made = CreateNewFile(FollowLinks(path), DefaultBookmarkImage(), 0600); !made) {
            Log::Failure("bookmarks", "the default bookmark file could not be made", made.Reason());
        }
    }
    std::this_thread::sleep_for(kSettleTime);
    return ReadAll();
}

std::vector<Bookmark> BookmarkStore::ReadAll() const {
    const std::string path = Path();
    const LockWait wait;
    std::vector<Bookmark> bookmarks;
    // Opening for writing may set a damaged file's length right, which a store that may not write must not do.
    if (!RecordDb::Open(path, {}, !writable_)) {
        return bookmarks;
    }
    const int count = RecordDb::RecordCount();
    bookmarks.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        bookmarks.push_back(ReadCurrent());
        RecordDb::Skip(1);
    }
    RecordDb::Close(path);
    return bookmarks;
}

std::optional<Bookmark> BookmarkStore::Add(const Bookmark& bookmark) const {
    const LockWait wait;
    if (!writable_ || !RecordDb::Open(Path())) {
        return std::nullopt;
    }
    std::optional<Bookmark> stored;
    // Held until the record is written: another instance's pack in between would move the new record, and the
    // writes would land on whichever record took its place.
    if (RecordDb::LockTable()) {
        if (RecordDb::AppendBlank()) {
            RunLockedStepHook();
            if (RecordDb::WriteField(kNameField, CutAtCharacter(bookmark.name, kNameWidth)) &&
                RecordDb::WriteField(kAddressField, CutAtCharacter(bookmark.address, kAddressWidth))) {
                // Read back, so the caller knows exactly what a later delete will find there.
                stored = ReadCurrent();
            } else if (RecordDb::MarkDeleted()) {
                // A blank record would show as an empty row after the next start. The add has failed either
                // way; a failing pack leaves that row, which the log tells of.
                if (!RecordDb::Pack()) {
                    Log::Failure("bookmarks", "a failed add left a blank record in websc.edb");
                }
            }
        }
        RecordDb::UnlockTable();
    }
    RecordDb::CloseAll();
    return stored;
}

BookmarkStore::DeleteResult BookmarkStore::Delete(int index, const Bookmark& expected) const {
    const LockWait wait;
    if (!writable_ || !RecordDb::Open(Path())) {
        return DeleteResult::Failed;
    }
    DeleteResult result = DeleteResult::Failed;
    // Held from the check to the end of the pack: another instance's pack in between would move a different
    // record under the index, and that one would be deleted instead.
    if (RecordDb::LockTable()) {
        result = DeleteResult::Changed;
        // GoTo holds a number past the end to the last record, so the count is checked first.
        if (index >= 0 && index < RecordDb::RecordCount() && RecordDb::GoTo(index + 1) && ReadCurrent() == expected) {
            RunLockedStepHook();
            result = RecordDb::MarkDeleted() && RecordDb::Pack() ? DeleteResult::Deleted : DeleteResult::Failed;
        }
        RecordDb::UnlockTable();
    }
    RecordDb::CloseAll();
    return result;
}

void BookmarkStore::SetLockedStepHook(std::function<void()> hook) {
    LockedStepHook() = std::move(hook);
}
