#include "bookmarks/recorddb/Table.h"

#include "bookmarks/recorddb/ErrorCodes.h"
#include "bookmarks/recorddb/FieldCodec.h"
#include "bookmarks/recorddb/LittleEndian.h"
#include "runtime/Gbk.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace RecordDb {

namespace {

// Pack moves records through one buffer of at most this many bytes.
constexpr std::int64_t kPackBuffer = 163840;
// Text fields wider than this are checked against the file length before their buffer is made, so a damaged
// descriptor cannot make a read allocate far more than the file holds.
constexpr std::int64_t kTrustedReadSize = 65536;
constexpr std::size_t kZeroBlock = 65536;

// Holds a one-byte lock for the life of a scope.
class ByteLock {
public:
    ByteLock(LockSet& locks, std::int64_t offset, int waitMs)
        : locks_(locks)
        , offset_(offset)
        , code_(locks.LockByte(offset, waitMs)) {}
    ~ByteLock() {
        if (code_ == kOk) {
            locks_.UnlockByte(offset_);
        }
    }
    ByteLock(const ByteLock&) = delete;
    ByteLock& operator=(const ByteLock&) = delete;
    int Code() const { return code_; }

private:
    LockSet& locks_;
    std::int64_t offset_;
    int code_;
};

} // namespace

Table::Table(Platform::FileHandle file, bool readOnly, bool exclusive)
    : file_(file)
    , readOnly_(readOnly)
    , exclusive_(exclusive)
    , locks_(file, !readOnly, !exclusive) {}

Table::~Table() {
    Platform::CloseFile(memoFile_);
    Platform::CloseFile(file_);
}

const FieldDescriptor* Table::FindField(std::string_view fieldName) const {
    for (const FieldDescriptor& field : fields_) {
        if (Gbk::EqualsIgnoreCase(field.fieldName, fieldName)) {
            return &field;
        }
    }
    return nullptr;
}

int Table::Write(const void* data, std::size_t size, std::int64_t offset, int failureCode) {
    if (readOnly_) {
        return kErrAccessDenied;
    }
    int error = kOk;
    return Platform::WriteAt(file_, data, size, offset, error) ? kOk : failureCode;
}

int Table::WriteZeros(std::int64_t size, std::int64_t offset, int failureCode) {
    static const unsigned char zeros[kZeroBlock] = {};
    while (size > 0) {
        const auto piece = static_cast<std::size_t>(std::min<std::int64_t>(size, kZeroBlock));
        if (const int code = Write(zeros, piece, offset, failureCode); code != kOk) {
            return code;
        }
        size -= static_cast<std::int64_t>(piece);
        offset += static_cast<std::int64_t>(piece);
    }
    return kOk;
}

int Table::RecordCount(int waitMs, std::int32_t& count) {
    count = 0;
    // Counting must not fail just because another process is appending at that moment.
    const ByteLock lock(locks_, kRecordCountOffset, waitMs < 0 ? waitMs : std::max(waitMs, 2000));
    if (lock.Code() != kOk) {
        return lock.Code();
    }
    unsigned char bytes[8];
    if (Platform::ReadAt(file_, bytes, sizeof bytes, kRecordCountOffset) != sizeof bytes) {
        return kErrRecordCountFailed;
    }
    count = std::max(0, LittleEndian::I32(bytes));
    header_.recordCount = count;
    header_.nextRecordId = LittleEndian::I32(bytes + 4);
    return kOk;
}

int Table::GoTo(std::int64_t n) {
    current_ = std::clamp<std::int64_t>(n - 1, 0, std::max<std::int64_t>(0, header_.recordCount - 1));
    return kOk;
}

int Table::Skip(std::int64_t n) {
    const std::int64_t count = header_.recordCount;
    if (n == 0) {
        return kOk;
    }
    if (n > 0 && (count == 0 || current_ >= count)) {
        return kErrAfterLast;
    }
    if (n < 0 && (count == 0 || current_ < 0)) {
        return kErrBeforeFirst;
    }
    current_ = std::max<std::int64_t>(-1, std::min(count, current_ + n));
    return kOk;
}

int Table::AppendBlank(int waitMs) {
    const ByteLock headerLock(locks_, kRecordCountOffset, waitMs);
    if (headerLock.Code() != kOk) {
        return headerLock.Code();
    }
    unsigned char counters[8];
    if (Platform::ReadAt(file_, counters, sizeof counters, kRecordCountOffset) != sizeof counters) {
        return kErrRecordCountFailed;
    }
    const std::int32_t count = std::max(0, LittleEndian::I32(counters));
    const std::int32_t next = LittleEndian::I32(counters + 4);
    const std::int32_t id = next > 0 ? next : 1;
    // Going past the largest id or count would store a value the next Open rejects, locking the user out of
    // every record.
    if (count == INT32_MAX || id == INT32_MAX) {
        return kErrWriteRecordFailed;
    }
    const std::int64_t position = RecordStart(count);
    // Records past the first 2 GiB would lie outside the whole-file lock that Pack and Open rely on.
    if (position + header_.recordSize > LockSet::kWholeFileLength) {
        return kErrWriteRecordFailed;
    }
    const ByteLock recordLock(locks_, position, waitMs);
    if (recordLock.Code() != kOk) {
        return recordLock.Code();
    }
    const auto length = Platform::FileLength(file_);
    if (!length || *length < position) {
        return kErrSeek;
    }

    unsigned char first[4096] = {};
    const auto firstSize = static_cast<std::size_t>(std::min<std::int64_t>(header_.recordSize, sizeof first));
    LittleEndian::PutI32(first, id);
    int code = Write(first, firstSize, position, kErrWriteRecordFailed);
    if (code == kOk) {
        code = WriteZeros(header_.recordSize - static_cast<std::int64_t>(firstSize),
                          position + static_cast<std::int64_t>(firstSize), kErrWriteRecordFailed);
    }
    if (code == kOk) {
        LittleEndian::PutI32(counters, count + 1);
        LittleEndian::PutI32(counters + 4, id + 1);
        code = Write(counters, sizeof counters, kRecordCountOffset, kErrWriteRecordFailed);
    }
    if (code != kOk) {
        // Leave the file as it was rather than with a half-written record the count does not cover.
        if (!readOnly_) {
            Platform::SetFileLength(file_, *length);
        }
        return code;
    }
    header_.recordCount = count + 1;
    header_.nextRecordId = id + 1;
    current_ = count;
    return kOk;
}

int Table::ReadField(const FieldDescriptor& field, int waitMs, Value& value) {
    if (current_ < 0) {
        return kErrNoCurrentRecord;
    }
    const std::int64_t recordStart = RecordStart(current_);
    const ByteLock lock(locks_, recordStart, waitMs);
    if (lock.Code() != kOk) {
        return lock.Code();
    }
    const std::int64_t position = recordStart + field.fieldOffset;
    const std::int64_t size = field.StoredSize();

    if (field.fieldType == FieldType::Text) {
        // Most texts are far shorter than their field: read into scratch space and keep only the text.
        char small[4096];
        std::vector<char> large;
        char* buffer = small;
        if (size > static_cast<std::int64_t>(sizeof small)) {
            if (size > kTrustedReadSize) {
                const auto length = Platform::FileLength(file_);
                if (!length || position >= *length) {
                    return kErrSeek;
                }
                if (position + size > *length) {
                    return kErrReadFieldFailed;
                }
            }
            large.resize(static_cast<std::size_t>(size));
            buffer = large.data();
        }
        const std::int64_t got = Platform::ReadAt(file_, buffer, static_cast<std::size_t>(size), position);
        if (got == 0) {
            return kErrSeek;
        }
        if (got != size) {
            return kErrReadFieldFailed;
        }
        value = FieldCodec::DecodeText(buffer, static_cast<std::size_t>(size));
        return kOk;
    }

    unsigned char bytes[FieldCodec::kFixedBytes] = {};
    const std::int64_t got = Platform::ReadAt(file_, bytes, static_cast<std::size_t>(size), position);
    if (got == 0) {
        return kErrSeek;
    }
    if (got != size) {
        return kErrReadFieldFailed;
    }
    if (field.IsMemoBacked()) {
        // An empty memo needs no side file; the side file's own layout is not read here.
        if (LittleEndian::U32(bytes) != 0) {
            return kErrMemoAccessFailed;
        }
        value = field.EmptyValue();
        return kOk;
    }
    value = FieldCodec::DecodeFixed(field.fieldType, bytes);
    return kOk;
}

int Table::WriteField(const FieldDescriptor& field, const Value& value, int waitMs) {
    unsigned char fixed[FieldCodec::kFixedBytes] = {};
    const std::string* text = nullptr;
    switch (field.fieldType) {
    case FieldType::Text:
    case FieldType::Memo:
        text = std::get_if<std::string>(&value);
        if (text == nullptr) {
            return kErrTypeMismatch;
        }
        break;
    case FieldType::ByteSet:
        if (!std::holds_alternative<Bytes>(value)) {
            return kErrTypeMismatch;
        }
        break;
    default:
        if (const int code = FieldCodec::EncodeFixed(field.fieldType, value, fixed); code != kOk) {
            return code;
        }
        break;
    }
    if (current_ < 0) {
        return kErrNoCurrentRecord;
    }
    const std::int64_t recordStart = RecordStart(current_);
    const ByteLock lock(locks_, recordStart, waitMs);
    if (lock.Code() != kOk) {
        return lock.Code();
    }
    const std::int64_t position = recordStart + field.fieldOffset;
    const std::int64_t size = field.StoredSize();
    // Never let a field write grow the file: a field not wholly inside it belongs to no record.
    const auto length = Platform::FileLength(file_);
    if (!length || position >= *length || position + size > *length) {
        return kErrNoCurrentRecord;
    }
    if (field.IsMemoBacked()) {
        return kErrMemoAccessFailed;
    }
    if (field.fieldType != FieldType::Text) {
        return Write(fixed, static_cast<std::size_t>(size), position, kErrWriteFieldFailed);
    }
    // The text with its NUL, cut to the width; the rest of the field is zeroed.
    const auto stored =
        static_cast<std::int64_t>(std::min<std::size_t>(text->size() + 1, static_cast<std::size_t>(size)));
    char stagedField[4096];
    if (size <= static_cast<std::int64_t>(sizeof stagedField)) {
        std::memcpy(stagedField, text->c_str(), static_cast<std::size_t>(stored));
        std::memset(stagedField + stored, 0, static_cast<std::size_t>(size - stored));
        return Write(stagedField, static_cast<std::size_t>(size), position, kErrWriteFieldFailed);
    }
    if (const int code = Write(text->c_str(), static_cast<std::size_t>(stored), position, kErrWriteFieldFailed);
        code != kOk) {
        return code;
    }
    return WriteZeros(size - stored, position + stored, kErrWriteFieldFailed);
}

int Table::MarkDeleted(int waitMs) {
    if (current_ < 0) {
        return kErrNoCurrentRecord;
    }
    const std::int64_t position = RecordStart(current_);
    const ByteLock lock(locks_, position, waitMs);
    if (lock.Code() != kOk) {
        return lock.Code();
    }
    const auto length = Platform::FileLength(file_);
    if (!length || position >= *length) {
        return kErrNoCurrentRecord;
    }
    unsigned char idBytes[4];
    if (Platform::ReadAt(file_, idBytes, sizeof idBytes, position) != sizeof idBytes) {
        return kErrReadRecordFailed;
    }
    const std::int32_t id = LittleEndian::I32(idBytes);
    if (id <= 0) {
        return kOk;
    }
    LittleEndian::PutI32(idBytes, -id);
    return Write(idBytes, sizeof idBytes, position, kErrWriteRecordFailed);
}

int Table::Pack(int waitMs) {
    if (const int code = locks_.LockWholeFile(waitMs); code != kOk) {
        return code;
    }
    const int code = PackLocked();
    locks_.UnlockWholeFile();
    return code;
}

int Table::PackLocked() {
    unsigned char countBytes[4];
    if (Platform::ReadAt(file_, countBytes, sizeof countBytes, kRecordCountOffset) != sizeof countBytes) {
        return kErrRecordCountFailed;
    }
    const std::int64_t count = std::max(0, LittleEndian::I32(countBytes));
    const std::int64_t recordSize = header_.recordSize;
    const std::int64_t end = RecordStart(count);
    // Finding the file short halfway would leave it half packed; refuse before moving anything.
    const auto length = Platform::FileLength(file_);
    if (!length || *length < end) {
        return kErrReadRecordFailed;
    }

    // A chunk is as many whole records as the buffer holds, or one record larger than it, of which the buffer
    // then holds the front.
    const std::int64_t perChunk = std::max<std::int64_t>(1, kPackBuffer / recordSize);
    std::vector<unsigned char> buffer(
        static_cast<std::size_t>(std::min(std::min(perChunk, count) * recordSize, kPackBuffer)));
    PackProgress progress;
    std::int64_t firstUnmoved = end;
    int code = kOk;
    for (std::int64_t start = 0; start < count && code == kOk; start += perChunk) {
        code = PackChunk(buffer, start, std::min(perChunk, count - start), progress, firstUnmoved);
    }
    if (code == kOk && progress.dropping) {
        LittleEndian::PutI32(countBytes, static_cast<std::int32_t>(progress.kept));
        code = Write(countBytes, sizeof countBytes, kRecordCountOffset, kErrWriteRecordFailed);
        if (code == kOk) {
            // Should this fail, the count already leaves the tail out and the next read-write Open cuts it.
            Platform::SetFileLength(file_, RecordStart(progress.kept));
        }
    }
    if (code != kOk) {
        // After a failed move every record still exists whole, either where it was moved to (before the write
        // position) or where it was (from `firstUnmoved`); the slots between hold copies and dropped records,
        // which are marked deleted so that the table never shows a record twice.
        if (progress.dropping) {
            MarkStaleRecords(progress.writePos, firstUnmoved);
        }
        return code;
    }
    header_.recordCount = static_cast<std::int32_t>(progress.kept);
    current_ = 0;
    return kOk;
}

int Table::PackChunk(std::vector<unsigned char>& buffer, std::int64_t start, std::int64_t n, PackProgress& progress,
                     std::int64_t& firstUnmoved) {
    const std::int64_t recordSize = header_.recordSize;
    const std::int64_t chunkPos = RecordStart(start);
    const std::int64_t buffered = std::min(n * recordSize, static_cast<std::int64_t>(buffer.size()));
    if (Platform::ReadAt(file_, buffer.data(), static_cast<std::size_t>(buffered), chunkPos) != buffered) {
        firstUnmoved = chunkPos;
        return kErrReadRecordFailed;
    }
    auto idAt = [&](std::int64_t i) { return LittleEndian::I32(buffer.data() + i * recordSize); };
    for (std::int64_t i = 0; i < n;) {
        if (idAt(i) < 0) {
            if (!progress.dropping) {
                progress.dropping = true;
                progress.writePos = RecordStart(start + i);
            }
            ++i;
            continue;
        }
        // The run of kept records from here moves in one piece.
        std::int64_t j = i;
        while (j < n && idAt(j) >= 0) {
            ++j;
        }
        progress.kept += j - i;
        if (progress.dropping) {
            std::int64_t moved = 0;
            const int code = MoveRecords(buffer, i * recordSize, buffered, RecordStart(start + i), (j - i) * recordSize,
                                         progress.writePos, moved);
            progress.writePos += moved * recordSize;
            if (code != kOk) {
                firstUnmoved = RecordStart(start + i + moved);
                return code;
            }
        }
        i = j;
    }
    return kOk;
}

int Table::MoveRecords(std::vector<unsigned char>& buffer, std::int64_t at, std::int64_t buffered, std::int64_t from,
                       std::int64_t size, std::int64_t to, std::int64_t& moved) {
    moved = 0;
    if (readOnly_) {
        return kErrAccessDenied;
    }
    const std::int64_t recordSize = header_.recordSize;
    for (std::int64_t done = 0; done < size;) {
        if (at == buffered) {
            // The rest of a record larger than the buffer, read piece by piece.
            buffered = std::min(size - done, static_cast<std::int64_t>(buffer.size()));
            at = 0;
            if (Platform::ReadAt(file_, buffer.data(), static_cast<std::size_t>(buffered), from + done) != buffered) {
                moved = done / recordSize;
                return kErrReadRecordFailed;
            }
        }
        const std::int64_t piece = std::min(buffered - at, size - done);
        int error = kOk;
        std::size_t written = 0;
        if (!Platform::WriteAt(file_, buffer.data() + at, static_cast<std::size_t>(piece), to + done, error,
                               &written)) {
            moved = (done + static_cast<std::int64_t>(written)) / recordSize;
            return kErrWriteRecordFailed;
        }
        done += piece;
        at += piece;
    }
    moved = size / recordSize;
    return kOk;
}

void Table::MarkStaleRecords(std::int64_t from, std::int64_t to) {
    for (std::int64_t position = from; position < to; position += header_.recordSize) {
        unsigned char idBytes[4];
        if (Platform::ReadAt(file_, idBytes, sizeof idBytes, position) != sizeof idBytes) {
            return;
        }
        const std::int32_t id = LittleEndian::I32(idBytes);
        if (id < 0) {
            continue;
        }
        LittleEndian::PutI32(idBytes, id > 0 ? -id : -1);
        if (Write(idBytes, sizeof idBytes, position, kErrWriteRecordFailed) != kOk) {
            return;
        }
    }
}

} // namespace RecordDb
