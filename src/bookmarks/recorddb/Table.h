#pragma once

#include "bookmarks/recorddb/FieldDescriptor.h"
#include "bookmarks/recorddb/FileHeader.h"
#include "bookmarks/recorddb/LockSet.h"
#include "bookmarks/recorddb/OpenRequest.h"
#include "bookmarks/recorddb/Platform.h"
#include "bookmarks/recorddb/Value.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace RecordDb {

// One open table: its file, a copy of its header and field descriptors, the current record and the locks it
// holds. Operations return kOk or an error code; `waitMs` is how long a lock held elsewhere is waited for.
class Table {
public:
    using IsOpenCheck = std::function<bool(const Platform::FileIdentity&)>;

    // Opens and validates the file; `isOpen` tells whether a file is already open as another table.
    static int Open(const OpenRequest& request, const IsOpenCheck& isOpen, int waitMs, std::unique_ptr<Table>& table);

    ~Table();
    Table(const Table&) = delete;
    Table& operator=(const Table&) = delete;

    const std::string& Alias() const { return alias_; }
    const std::string& ShortName() const { return shortName_; }
    const std::string& FullPath() const { return fullPath_; }
    const Platform::FileIdentity& Identity() const { return identity_; }
    const FileHeader& Header() const { return header_; }
    std::int64_t DataStart() const { return dataStart_; }
    std::int64_t CurrentRecord() const { return current_; }

    // The field of that name, compared without regard to the case of Latin letters; null when there is none.
    const FieldDescriptor* FindField(std::string_view fieldName) const;

    int RecordCount(int waitMs, std::int32_t& count);
    int GoTo(std::int64_t n);
    int Skip(std::int64_t n);
    int AppendBlank(int waitMs);
    // Sets `value` only on success.
    int ReadField(const FieldDescriptor& field, int waitMs, Value& value);
    int WriteField(const FieldDescriptor& field, const Value& value, int waitMs);
    int MarkDeleted(int waitMs);
    int Pack(int waitMs);
    int LockTable(int waitMs) { return locks_.LockWholeFile(waitMs); }
    void UnlockTable() { locks_.UnlockWholeFile(); }

private:
    Table(Platform::FileHandle file, bool readOnly, bool exclusive);

    // The steps of Open, in order; each gives kOk or the code the open fails with.
    static int OpenFile(const OpenRequest& request, const IsOpenCheck& isOpen, int waitMs,
                        std::unique_ptr<Table>& opened);
    int ReadHeader(bool withPassword);
    // Also gives the file's length, which the next step needs.
    int ReadFieldDescriptors(std::int64_t& length);
    int KeepWholeRecords(std::int64_t length);
    int OpenSideFiles(const OpenRequest& request);
    std::int64_t RecordStart(std::int64_t index) const { return dataStart_ + index * header_.recordSize; }
    int Write(const void* data, std::size_t size, std::int64_t offset, int failureCode);
    int WriteZeros(std::int64_t size, std::int64_t offset, int failureCode);
    // How far a pack has got: whether a dropped record has been met (nothing before it is rewritten), where the
    // next kept record goes since, and how many records are kept.
    struct PackProgress {
        bool dropping = false;
        std::int64_t writePos = 0;
        std::int64_t kept = 0;
    };

    int PackLocked();
    // Reads the `n` records from index `start` into the buffer and moves the kept ones to the write position.
    // On failure `firstUnmoved` is where the records not yet moved begin.
    int PackChunk(std::vector<unsigned char>& buffer, std::int64_t start, std::int64_t n, PackProgress& progress,
                  std::int64_t& firstUnmoved);
    // Writes the `size` bytes of whole records at `from` to `to`. The buffer holds the file's bytes from `from`
    // on at `at`, up to `buffered`; what lies past them is read into it as the move goes. `moved` tells how many
    // whole records reached `to`, also when the move fails.
    int MoveRecords(std::vector<unsigned char>& buffer, std::int64_t at, std::int64_t buffered, std::int64_t from,
                    std::int64_t size, std::int64_t to, std::int64_t& moved);
    void MarkStaleRecords(std::int64_t from, std::int64_t to);

    Platform::FileHandle file_;
    Platform::FileHandle memoFile_ = Platform::kNoFile;
    bool readOnly_;
    bool exclusive_;
    LockSet locks_;
    std::string fullPath_;
    std::string shortName_;
    std::string alias_;
    Platform::FileIdentity identity_;
    FileHeader header_;
    std::vector<FieldDescriptor> fields_;
    std::int64_t dataStart_ = 0;
    std::int64_t current_ = 0;
};

} // namespace RecordDb
