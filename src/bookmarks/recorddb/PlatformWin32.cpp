#include "bookmarks/recorddb/ErrorCodes.h"
#include "bookmarks/recorddb/Platform.h"
#include "runtime/WideTextWin32.h"

#include <climits>
#include <mutex>
#include <vector>
#include <windows.h>

namespace RecordDb::Platform {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The engine's file handle is a small number; it names a slot here that holds the system's handle, so that a
// share-mode claim can swap the open behind it.
struct Slot {
    HANDLE handle = INVALID_HANDLE_VALUE;
    std::wstring path;
    bool readOnly = true;
    bool used = false;
};

std::mutex slotsMutex;
std::vector<Slot> slots;

HANDLE HandleOf(FileHandle file) {
    const std::lock_guard lock(slotsMutex);
    return file >= 0 && static_cast<std::size_t>(file) < slots.size() && slots[static_cast<std::size_t>(file)].used
               ? slots[static_cast<std::size_t>(file)].handle
               : INVALID_HANDLE_VALUE;
}

int CodeForError(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
        return kErrFileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_INVALID_DRIVE:
        return kErrBadPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return kErrTooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        return kErrAccessDenied;
    case ERROR_INVALID_HANDLE:
        return kErrInvalidFile;
    case ERROR_SEEK:
    case ERROR_NEGATIVE_SEEK:
        return kErrSeek;
    case ERROR_CRC:
    case ERROR_GEN_FAILURE:
    case ERROR_IO_DEVICE:
        return kErrHardware;
    case ERROR_SHARING_VIOLATION:
        return kErrSharingViolation;
    case ERROR_LOCK_VIOLATION:
        return kErrLockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return kErrDiskFull;
    default:
        return kErrFileGeneric;
    }
}

OVERLAPPED At(std::int64_t offset) {
    OVERLAPPED position{};
    position.Offset = static_cast<DWORD>(static_cast<std::uint64_t>(offset) & 0xFFFFFFFF);
    position.OffsetHigh = static_cast<DWORD>(static_cast<std::uint64_t>(offset) >> 32);
    return position;
}

HANDLE Open(const std::wstring& path, bool readOnly, DWORD share) {
    return ::CreateFileW(path.c_str(), GENERIC_READ | (readOnly ? 0 : GENERIC_WRITE), share, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::optional<FileIdentity> IdentityOfHandle(HANDLE handle) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || !::GetFileInformationByHandle(handle, &info)) {
        return std::nullopt;
    }
    return FileIdentity{info.dwVolumeSerialNumber,
                        (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

} // namespace

int LastFileErrorCode() {
    return CodeForError(::GetLastError());
}

bool IsPathSeparator(char c) {
    return c == '\\' || c == '/';
}

std::optional<std::string> FullPath(std::string_view name, int& error) {
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        error = kErrBadPath;
        return std::nullopt;
    }
    const std::wstring wide = Win32::WideFromUtf8(name);
    std::wstring full(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0) {
            break;
        }
        if (length < full.size()) {
            full.resize(length);
            return Win32::Utf8FromWide(full);
        }
        full.resize(length);
    }
    error = kErrBadPath;
    return std::nullopt;
}

FileHandle OpenExisting(const std::string& path, bool readOnly, int& error) {
    std::wstring wide = Win32::WideFromUtf8(path);
    // Shared with every other open until a share mode is claimed; delete stays allowed so saving never fails
    // because of us.
    const HANDLE handle = Open(wide, readOnly, kShareAll);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastFileErrorCode();
        return kNoFile;
    }
    if (::GetFileType(handle) != FILE_TYPE_DISK) {
        ::CloseHandle(handle);
        error = kErrAccessDenied;
        return kNoFile;
    }
    const std::lock_guard lock(slotsMutex);
    std::size_t index = 0;
    while (index < slots.size() && slots[index].used) {
        ++index;
    }
    if (index == slots.size()) {
        if (slots.size() >= INT_MAX) {
            ::CloseHandle(handle);
            error = kErrTooManyOpenFiles;
            return kNoFile;
        }
        slots.emplace_back();
    }
    slots[index] = Slot{handle, std::move(wide), readOnly, true};
    return static_cast<FileHandle>(index);
}

void CloseFile(FileHandle file) {
    const std::lock_guard lock(slotsMutex);
    if (file < 0 || static_cast<std::size_t>(file) >= slots.size() || !slots[static_cast<std::size_t>(file)].used) {
        return;
    }
    Slot& slot = slots[static_cast<std::size_t>(file)];
    if (slot.handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(slot.handle);
    }
    slot = Slot{};
}

std::optional<FileIdentity> IdentityOf(FileHandle file) {
    return IdentityOfHandle(HandleOf(file));
}

std::optional<FileIdentity> IdentityOfPath(const std::string& path) {
    const HANDLE handle = ::CreateFileW(Win32::WideFromUtf8(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    const std::optional<FileIdentity> identity = IdentityOfHandle(handle);
    if (handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(handle);
    }
    return identity;
}

std::int64_t ReadAt(FileHandle file, void* data, std::size_t size, std::int64_t offset) {
    const HANDLE handle = HandleOf(file);
    auto* bytes = static_cast<unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED position = At(offset + static_cast<std::int64_t>(done));
        const std::size_t left = size - done;
        DWORD got = 0;
        if (!::ReadFile(handle, bytes + done, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left), &got,
                        &position)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) {
                break;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

bool WriteAt(FileHandle file, const void* data, std::size_t size, std::int64_t offset, int& error,
             std::size_t* written) {
    const HANDLE handle = HandleOf(file);
    const auto* bytes = static_cast<const unsigned char*>(data);
    std::size_t done = 0;
    while (done < size) {
        OVERLAPPED position = At(offset + static_cast<std::int64_t>(done));
        const std::size_t left = size - done;
        DWORD put = 0;
        if (!::WriteFile(handle, bytes + done, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left), &put,
                         &position) ||
            put == 0) {
            error = put == 0 && ::GetLastError() == ERROR_SUCCESS ? kErrDiskFull : LastFileErrorCode();
            if (written != nullptr) {
                *written = done;
            }
            return false;
        }
        done += put;
    }
    if (written != nullptr) {
        *written = done;
    }
    return true;
}

std::optional<std::int64_t> FileLength(FileHandle file) {
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(HandleOf(file), &size)) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(size.QuadPart);
}

bool SetFileLength(FileHandle file, std::int64_t length) {
    FILE_END_OF_FILE_INFO end{};
    end.EndOfFile.QuadPart = length;
    return ::SetFileInformationByHandle(HandleOf(file), FileEndOfFileInfo, &end, sizeof end) != 0;
}

LockResult LockRange(FileHandle file, std::int64_t offset, std::int64_t length, bool exclusive) {
    OVERLAPPED position = At(offset);
    const auto bytes = static_cast<std::uint64_t>(length);
    const DWORD flags = LOCKFILE_FAIL_IMMEDIATELY | (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0);
    if (::LockFileEx(HandleOf(file), flags, 0, static_cast<DWORD>(bytes & 0xFFFFFFFF), static_cast<DWORD>(bytes >> 32),
                     &position)) {
        return LockResult::Taken;
    }
    switch (::GetLastError()) {
    case ERROR_LOCK_VIOLATION:
    case ERROR_IO_PENDING:
        return LockResult::Busy;
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_FUNCTION:
        return LockResult::Unsupported;
    default:
        return LockResult::Failed;
    }
}

void UnlockRange(FileHandle file, std::int64_t offset, std::int64_t length) {
    OVERLAPPED position = At(offset);
    const auto bytes = static_cast<std::uint64_t>(length);
    ::UnlockFileEx(HandleOf(file), 0, static_cast<DWORD>(bytes & 0xFFFFFFFF), static_cast<DWORD>(bytes >> 32),
                   &position);
}

ShareResult ClaimShareMode(FileHandle file, bool /*write*/, bool denyRead, bool denyWrite) {
    // An open that denies nothing was already checked against every other open's denials when it was made.
    if (!denyRead && !denyWrite) {
        return ShareResult::Granted;
    }
    const std::lock_guard lock(slotsMutex);
    if (file < 0 || static_cast<std::size_t>(file) >= slots.size() || !slots[static_cast<std::size_t>(file)].used) {
        return ShareResult::Failed;
    }
    Slot& slot = slots[static_cast<std::size_t>(file)];
    // The system checks share modes when a file is opened, and our own open would stand against the denial; so
    // the open is made again with the share flags asked for, and made as before when another open stands against
    // them.
    if (slot.handle != INVALID_HANDLE_VALUE) {
        ::CloseHandle(slot.handle);
    }
    const DWORD share = (denyRead ? 0 : FILE_SHARE_READ) | (denyWrite ? 0 : FILE_SHARE_WRITE);
    slot.handle = Open(slot.path, slot.readOnly, share);
    if (slot.handle != INVALID_HANDLE_VALUE) {
        return ShareResult::Granted;
    }
    const bool violation = ::GetLastError() == ERROR_SHARING_VIOLATION;
    slot.handle = Open(slot.path, slot.readOnly, kShareAll);
    return violation && slot.handle != INVALID_HANDLE_VALUE ? ShareResult::Violation : ShareResult::Failed;
}

std::uint64_t TickMs() {
    return ::GetTickCount64();
}

void SleepMs(int milliseconds) {
    ::Sleep(static_cast<DWORD>(milliseconds));
}

} // namespace RecordDb::Platform
