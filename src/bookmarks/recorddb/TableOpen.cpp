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

} // namespace

int Table::Open(const OpenRequest& request, const IsOpenCheck& isOpen, int waitMs, std::unique_ptr<Table>& table) {
    table.reset();
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
    std::unique_ptr<Table> opened(new Table(file, request.readOnly, exclusive));
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
    if (shared == Platform::LockResult::Failed) {
        return kErrOpenFailed;
    }

    if (const int code = opened->locks_.LockWholeFile(waitMs); code != kOk) {
        return code;
    }
    unsigned char headerBytes[kHeaderSize];
    if (Platform::ReadAt(file, headerBytes, sizeof headerBytes, 0) != kHeaderSize) {
        return kErrNotDatabase;
    }
    FileHeader& header = opened->header_;
    header = FileHeader::Parse(headerBytes);
    if (header.Magic() != kPlainMagic && header.Magic() != kPasswordMagic) {
        return kErrNotDatabase;
    }
    // The enciphered layout is not supported, so no password opens a protected file.
    if (header.Magic() == kPasswordMagic || request.password) {
        return kErrPassword;
    }
    if (header.recordSize <= 0 || header.recordCount < 0 || header.nextRecordId <= 0) {
        return kErrNotDatabase;
    }
    if (header.version > kCurrentVersion) {
        return kErrVersionTooHigh;
    }

    const auto length = Platform::FileLength(file);
    unsigned char countBytes[4];
    if (!length || Platform::ReadAt(file, countBytes, sizeof countBytes, kFieldCountOffset) != sizeof countBytes) {
        return kErrNotDatabase;
    }
    const std::int32_t fieldCount = LittleEndian::I32(countBytes);
    // The descriptors must be in the file before any room is made for them, and a record must start where
    // locks can reach it and hold at least its id.
    const std::int64_t dataStart = fieldCount > 0 ? RecordDb::DataStart(fieldCount) : 0;
    if (fieldCount <= 0 || dataStart > *length || header.recordSize < kRecordIdSize ||
        dataStart + header.recordSize > LockSet::kWholeFileLength) {
        return kErrNotDatabase;
    }
    std::vector<unsigned char> descriptors(static_cast<std::size_t>(kDescriptorSize * fieldCount));
    if (Platform::ReadAt(file, descriptors.data(), descriptors.size(), kDescriptorsOffset) !=
        static_cast<std::int64_t>(descriptors.size())) {
        return kErrNotDatabase;
    }
    opened->fields_.reserve(static_cast<std::size_t>(fieldCount));
    for (std::int32_t i = 0; i < fieldCount; ++i) {
        auto field = FieldDescriptor::Parse(descriptors.data() + kDescriptorSize * i, header.recordSize);
        if (!field) {
            return kErrNotDatabase;
        }
        opened->fields_.push_back(std::move(*field));
    }
    opened->dataStart_ = dataStart;

    const std::int64_t present = (*length - dataStart) / header.recordSize;
    if (present < header.recordCount) {
        if (request.readOnly) {
            return kErrFileSize;
        }
        header.recordCount = static_cast<std::int32_t>(present);
        LittleEndian::PutI32(countBytes, header.recordCount);
        if (opened->Write(countBytes, sizeof countBytes, kRecordCountOffset, kErrOpenFailed) != kOk) {
            return kErrOpenFailed;
        }
    }
    if (!request.readOnly) {
        const std::int64_t exact = opened->RecordStart(header.recordCount);
        if (*length != exact && !Platform::SetFileLength(file, exact)) {
            return kErrOpenFailed;
        }
    }

    if (const int code = opened->OpenSideFiles(request); code != kOk) {
        return code;
    }
    opened->locks_.UnlockWholeFile();
    opened->current_ = 0;
    table = std::move(opened);
    return kOk;
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
