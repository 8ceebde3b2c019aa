#pragma once

#include "bookmarks/recorddb/ErrorCodes.h"
#include "bookmarks/recorddb/ShareMode.h"
#include "bookmarks/recorddb/Value.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The record database: one table of fixed-size records per file, shared between processes through byte-range
// locks. Every operation sets the calling thread's LastError() (0 on success) and reports success as true.
// Operations other than Open, Close and CloseAll act on the current table. Names and texts are GBK.
namespace RecordDb {

// Opens an existing table file (".EDB" is added to a name without an extension) and makes it current, on its
// first record.
[[nodiscard]] bool Open(std::string_view fileName, std::string_view alias = {}, bool readOnly = false,
                        ShareMode shareMode = ShareMode::DenyNone,
                        const std::optional<std::string>& password = std::nullopt,
                        const std::vector<std::string>& indexFiles = {});

// Closes the table named by alias, short name or full path (empty: the current one).
void Close(std::string_view name = {});
void CloseAll();

// The number of records, marked ones included; 0 on failure.
int RecordCount();
// Makes record n (1-based, held within the table) current.
[[nodiscard]] bool GoTo(int n);
// Moves the current record by n: to one before the first or one after the last at most.
bool Skip(int n = 1);
// Appends a zeroed record with a fresh id and makes it current.
[[nodiscard]] bool AppendBlank();
// The named field of the current record (text for text and memo fields). Without a current table, or without
// such a field, this is a fatal error that ends the process. On other failures: the field type's empty value.
Value ReadField(std::string_view fieldName);
// Writes the named field of the current record; numeric kinds are converted, texts cut to the field's width.
[[nodiscard]] bool WriteField(std::string_view fieldName, const Value& value);
[[nodiscard]] bool MarkDeleted();
// Removes every marked record from the file; record ids are never given out again.
[[nodiscard]] bool Pack();

// Takes the current table's whole-file lock and keeps it until the matching UnlockTable, so that no other
// process changes the file between the operations made meanwhile; their own locks count inside it.
[[nodiscard]] bool LockTable();
void UnlockTable();

// How long, in milliseconds, a lock or open that another process blocks is retried: 0 (the start value) not at
// all, -1 without limit.
int LockWaitMs();
void SetLockWaitMs(int lockWaitMs);

} // namespace RecordDb
