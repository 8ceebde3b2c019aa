#pragma once

#include "bookmarks/Bookmark.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* kBookmarkFileName = "websc.edb";

// The longest start of `text` of at most `maxBytes` bytes that ends between two whole GBK characters, so that
// no cut leaves the first byte of a character behind.
std::string CutAtCharacter(std::string_view text, std::size_t maxBytes = std::string_view::npos);

// Where the bookmark file lives: websc.edb beside ms.ini, in the working directory the program entered at
// start. Every part of the program takes the path from here.
std::string BookmarkFilePath();

// The bookmark file's operations over the record database. Each one opens the file and closes it again before
// it returns, so other program instances can use the file in between; record i is row i of the list.
class BookmarkStore {
public:
    // The store of BookmarkFilePath(), formed anew by each operation.
    BookmarkStore() = default;
    // The store of one fixed file. A store that is not `writable` only reads: it creates no file and refuses
    // adds and deletes, for a run that may not keep anything.
    explicit BookmarkStore(std::string path, bool writable = true);

    std::string Path() const;

    // Writes the default file when none is there, waits for it to settle, then reads every record in file
    // order. A file that is not a database reads as empty; a table with records that lacks a text field
    // "名称" or "网址" ends the program through the fatal-error service.
    std::vector<Bookmark> Load() const;
    // The reading part of Load alone.
    std::vector<Bookmark> ReadAll() const;

    // Appends a record. Gives the bookmark as stored (texts cut to their field widths at a character boundary),
    // or nullopt when it could not be stored; a record left half-written is taken out again.
    std::optional<Bookmark> Add(const Bookmark& bookmark) const;

    enum class DeleteResult {
        Deleted,
        // Record `index` no longer holds the bookmark the caller showed there: nothing was deleted.
        Changed,
        // The file could not be changed.
        Failed,
    };
    // Deletes record `index` (0-based) if it still holds `expected`, and packs the file at once.
    DeleteResult Delete(int index, const Bookmark& expected) const;

    // Test hook: runs while Add or Delete holds the file locked against other processes, in Delete once the
    // record has been found as expected, in Add once the blank record is appended. Empty: none.
    static void SetLockedStepHook(std::function<void()> hook);

private:
    std::optional<std::string> path_;
    bool writable_ = true;
};
