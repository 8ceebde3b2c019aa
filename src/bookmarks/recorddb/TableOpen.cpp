#include "bookmarks/recorddb/ErrorCodes.h"
#include "bookmarks/recorddb/LittleEndian.h"
#include "bookmarks/recorddb/LockRetry.h"
#include "bookmarks/recorddb/Table.h"

#include <algorithm>
#include <cstring>

namespace RecordDb {

namespace {

constexpr std::size_t kMostIndexFiles = 10;
constexpr std::string_view kMemoMagic = "WEDT";
constexpr std::string_view kIndexMagic = "WENX";

std::size_t NameStart(std::string_view path) {
    for (std::size_t i = path.size(); i > 0; --i) {
        if (Platform::IsPathSeparator(path[i - 1])) {
            return i;
        }
    }
    return 0;
}

// A name without an extension gets `extension`; one ending in "." gets it without the dot.
std::string WithDefaultExtension(std::string_view name, std::string_view extension) {
    std::string result(name);
    if (name.substr(NameStart(name)).find('.') == std::string_view::npos) {
        result += '.';
        result += extension;
    } else if (name.back() == '.') {
        result += extension;
    }
    return result;
}

std::string ShortNameOf(std::string_view path) {
    std::string_view name = path.substr(NameStart(path));
    return std::string(name.substr(0, name.rfind('.')));
}

// `path` with its extension replaced.
std::string WithExtension(std::string_view path, std::string_view extension) {
    const std::size_t start = NameStart(path);
    const std::size_t dot = path.rfind('.');
    std::string result(path.substr(0, dot != std::string_view::npos && dot >= start ? dot : path.size()));
    return result + '.' + std::string(extension);
}

// True when the file at `path` opens and starts with `magic`; `openFailed` tells the two failures apart.
bool HasMagic(const std::string& path, std::string_view magic, bool& openFailed, Platform::FileHandle* keep) {
    int error = kOk;
    const Platform::FileHandle file = Platform::OpenExisting(path, true, error);
    openFailed = file == Platform::kNoFile;
    if (openFailed) {
        return false;
    }
    char bytes[4] = {};
    const bool matches = Platform::ReadAt(file, bytes, sizeof bytes, 0) == sizeof bytes &&
                         std::string_view(bytes, sizeof bytes) == magic;
    if (matches && keep != nullptr) {
        *keep = file;
    } else {
        Platform::CloseFile(file);
    }
    return matches;
}

// Fails when another open's share mode forbids this one, after waiting for it as long as `waitMs` allows.
int ClaimShareMode(Platform::FileHandle file, const OpenRequest& request, bool exclusive, int waitMs) {
    const bool denyWrite = request.shareMode == ShareMode::DenyWrite || request.shareMode == ShareMode::Exclusive;
    const Platform::LockResult shared = RetryWhileBusy(waitMs, [&] {
        switch (Platform::ClaimShareMode(file, !request.readOnly, exclusive, denyWrite)) {
        case Platform::ShareResult::Granted:
            return Platform::LockResult::Taken;
        case Platform::ShareResult::Violation:
            return Platform::LockResult::Busy;
        case Platform::ShareResult::Failed:
            break;
        }
        return Platform::LockResult::Failed;
    });
    if (shared == Platform::LockResult::Busy) {
        return kErrSharingViolation;
    }
    return shared == Platform::LockResult::Taken ? kOk : kErrOpenFailed;
}

} // namespace

int Table::Open(const OpenRequest& request, const IsOpenCheck& isOpen, int waitMs, std::unique_ptr<Table>& table) {
    table.reset();
    std::unique_ptr<Table> opened;
    int code = OpenFile(request, isOpen, waitMs, opened);
    // Validation and repair happen under the whole-file lock, so no other process sees them half done.
    if (code == kOk) {
        code = opened->locks_.LockWholeFile(waitMs);
    }
    if (code == kOk) {
        code = opened->ReadHeader(request.password.has_value());
    }
    std::int64_t length = 0;
    if (code == kOk) {
        code = opened->ReadFieldDescriptors(length);
    }
    if (code == kOk) {
        code = opened->KeepWholeRecords(length);
    }
    if (code == kOk) {
        code = opened->OpenSideFiles(request);
    }
    if (code != kOk) {
        // Closing the file lets go of every lock it holds.
        return code;
    }
    opened->locks_.UnlockWholeFile();
    opened->current_ = 0;
    table = std::move(opened);
    return kOk;
}

int Table::OpenFile(const OpenRequest& request, const IsOpenCheck& isOpen, int waitMs, std::unique_ptr<Table>& opened) {
    if (request.fileName.empty()) {
        return kErrFileNotFound;
    }
    int error = kOk;
    const auto fullPath = Platform::FullPath(WithDefaultExtension(request.fileName, "EDB"), error);
    if (!fullPath) {
        return error;
    }
    // The same file under any of its names is the same table.
    if (const auto identity = Platform::IdentityOfPath(*fullPath); identity && isOpen(*identity)) {
        return kErrAlreadyOpen;
    }
    const Platform::FileHandle file = Platform::OpenExisting(*fullPath, request.readOnly, error);
    if (file == Platform::kNoFile) {
        return error;
    }
    const bool exclusive = request.shareMode == ShareMode::DenyRead || request.shareMode == ShareMode::Exclusive;
    opened.reset(new Table(file, request.readOnly, exclusive));
    const auto identity = Platform::IdentityOf(file);
    if (!identity) {
        return kErrOpenFailed;
    }
    if (isOpen(*identity)) {
        return kErrAlreadyOpen;
    }
    opened->identity_ = *identity;
    opened->fullPath_ = *fullPath;
    opened->shortName_ = ShortNameOf(*fullPath);
    opened->alias_ = request.alias;
    return ClaimShareMode(file, request, exclusive, waitMs);
}

int Table::ReadHeader(bool withPassword) {
    unsigned char headerBytes[kHeaderSize];
    if (Platform::ReadAt(file_, headerBytes, sizeof headerBytes, 0) != kHeaderSize) {
        return kErrNotDatabase;
    }
    header_ = FileHeader::Parse(headerBytes);
    if (header_.Magic() != kPlainMagic && header_.Magic() != kPasswordMagic) {
        return kErrNotDatabase;
    }
    // The enciphered layout is not supported, so no password opens a protected file.
    if (header_.Magic() == kPasswordMagic || withPassword) {
        return kErrPassword;
    }
    if (header_.recordSize <= 0 || header_.recordCount < 0 || header_.nextRecordId <= 0) {
        return kErrNotDatabase;
    }
    return header_.version > kCurrentVersion ? kErrVersionTooHigh : kOk;
}

int Table::ReadFieldDescriptors(std::int64_t& length) {
    const auto fileLength = Platform::FileLength(file_);
    unsigned char countBytes[4];
    if (!fileLength || Platform::ReadAt(file_, countBytes, sizeof countBytes, kFieldCountOffset) != sizeof countBytes) {
        return kErrNotDatabase;
    }
    length = *fileLength;
    const std::int32_t fieldCount = LittleEndian::I32(countBytes);
    // The descriptors must be in the file before any room is made for them, and a record must start where
    // locks can reach it and hold at least its id.
    const std::int64_t dataStart = fieldCount > 0 ? RecordDb::DataStart(fieldCount) : 0;
    if (fieldCount <= 0 || dataStart > length || header_.recordSize < kRecordIdSize ||
        dataStart + header_.recordSize > LockSet::kWholeFileLength) {
        return kErrNotDatabase;
    }
    std::vector<unsigned char> descriptors(static_cast<std::size_t>(kDescriptorSize * fieldCount));
    if (Platform::ReadAt(file_, descriptors.data(), descriptors.size(), kDescriptorsOffset) !=
        static_cast<std::int64_t>(descriptors.size())) {
        return kErrNotDatabase;
    }
    fields_.reserve(static_cast<std::size_t>(fieldCount));
    for (std::int32_t i = 0; i < fieldCount; ++i) {
        auto field = FieldDescriptor::Parse(descriptors.data() + kDescriptorSize * i, header_.recordSize);
        if (!field) {
            return kErrNotDatabase;
        }
        fields_.push_back(std::move(*field));
    }
    dataStart_ = dataStart;
    return kOk;
}

int Table::KeepWholeRecords(std::int64_t length) {
    const std::int64_t present = (length - dataStart_) / header_.recordSize;
    if (present < header_.recordCount) {
        if (readOnly_) {
            return kErrFileSize;
        }
        header_.recordCount = static_cast<std::int32_t>(present);
        unsigned char countBytes[4];
        LittleEndian::PutI32(countBytes, header_.recordCount);
        if (Write(countBytes, sizeof countBytes, kRecordCountOffset, kErrOpenFailed) != kOk) {
            return kErrOpenFailed;
        }
    }
    if (readOnly_) {
        return kOk;
    }
    // Bytes past the last whole record belong to no record; a read-write open cuts them off.
    const std::int64_t exact = RecordStart(header_.recordCount);
    return length == exact || Platform::SetFileLength(file_, exact) ? kOk : kErrOpenFailed;
}

int Table::OpenSideFiles(const OpenRequest& request) {
    bool openFailed = false;
    const bool hasMemo =
        std::any_of(fields_.begin(), fields_.end(), [](const FieldDescriptor& field) { return field.IsMemoBacked(); });
    if (hasMemo) {
        // The side file's extension is matched in the case the table's own name uses.
        const std::string upper = WithExtension(fullPath_, "EDT");
        const std::string lower = WithExtension(fullPath_, "edt");
        if (!HasMagic(upper, kMemoMagic, openFailed, &memoFile_) &&
            (!openFailed || !HasMagic(lower, kMemoMagic, openFailed, &memoFile_))) {
            return openFailed ? kErrMemoReadFailed : kErrNotMemoFile;
        }
    }
    if (request.indexFiles.empty()) {
        return kOk;
    }
    if (request.indexFiles.size() > kMostIndexFiles) {
        return kErrTooManyIndexes;
    }
    for (const std::string& name : request.indexFiles) {
        int error = kOk;
        const auto path = name.empty() ? std::nullopt : Platform::FullPath(WithDefaultExtension(name, "ENX"), error);
        if (!path) {
            return kErrIndexOpenFailed;
        }
        if (!HasMagic(*path, kIndexMagic, openFailed, nullptr)) {
            return openFailed ? kErrIndexOpenFailed : kErrNotIndexFile;
        }
    }
    // An index this engine cannot keep up to date would go stale with the first append; refuse the open
    // rather than corrupt it.
    return kErrOpenFailed;
}

} // namespace RecordDb
