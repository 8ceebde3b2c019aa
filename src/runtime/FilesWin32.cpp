#include "runtime/Files.h"

#include "runtime/HandleWin32.h"
#include "runtime/LastErrorWin32.h"
#include "runtime/WideTextWin32.h"

#include <cerrno>
#include <climits>
#include <io.h>
#include <random>
#include <string_view>
#include <windows.h>

using Win32::Handle;
using Win32::Utf8FromWide;
using Win32::WideFromUtf8;

namespace {

// A temporary file is named after the file it replaces, then this, then six letters and digits. The word
// keeps the clean-up away from names a user might choose, such as "ms.ini.backup".
constexpr std::string_view kTemporaryInfix = ".saving-";
constexpr std::size_t kTemporaryRandomLength = 6;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

bool IsSeparator(char c) {
    return c == '/' || c == '\\';
}

std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

std::string DirectoryOf(const std::string& path) {
    const auto slash = LastSeparator(path);
    if (slash == std::string::npos) {
        return ".";
    }
    // "C:\ms.ini" lives in "C:\", not in the drive's current directory "C:".
    return slash == 0 || (slash == 2 && path[1] == ':') ? path.substr(0, slash + 1) : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const auto slash = LastSeparator(path);
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Join(const std::string& directory, const std::string& name) {
    return !directory.empty() && IsSeparator(directory.back()) ? directory + name : directory + "\\" + name;
}

bool IsAlphanumeric(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsTemporaryName(const std::string& name, const std::string& base) {
    const std::size_t randomFrom = base.size() + kTemporaryInfix.size();
    if (name.size() != randomFrom + kTemporaryRandomLength || name.compare(0, base.size(), base) != 0 ||
        name.compare(base.size(), kTemporaryInfix.size(), kTemporaryInfix) != 0) {
        return false;
    }
    for (std::size_t i = randomFrom; i < name.size(); ++i) {
        if (!IsAlphanumeric(name[i])) {
            return false;
        }
    }
    return true;
}

std::string RandomSuffix() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    thread_local std::mt19937 generator(std::random_device{}() ^ ::GetCurrentProcessId() ^ ::GetTickCount());
    std::uniform_int_distribution<std::size_t> pick(0, sizeof kLetters - 2);
    std::string suffix;
    for (std::size_t i = 0; i < kTemporaryRandomLength; ++i) {
        suffix += kLetters[pick(generator)];
    }
    return suffix;
}

Result<void> WriteHandle(HANDLE file, const unsigned char* data, std::size_t size) {
    while (size > 0) {
        const DWORD chunk = size > 0x40000000 ? 0x40000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!::WriteFile(file, data, chunk, &written, nullptr)) {
            return LastError();
        }
        if (written == 0) {
            return Fail(std::errc::io_error);
        }
        data += written;
        size -= written;
    }
    return {};
}

// The C runtime's errno, which on Windows is no system error number.
Result<void> RuntimeError() {
    return Fail(std::error_code(errno, std::generic_category()));
}

// A temporary file that nobody else may open while it is written: a cleaner that can open it knows its writer
// is gone. Deleting and renaming stay allowed, so the writer itself can move it into place.
HANDLE CreateLockedTemporary(const std::string& name, std::string& temporary) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string candidate = name + std::string(kTemporaryInfix) + RandomSuffix();
        const HANDLE file = ::CreateFileW(WideFromUtf8(candidate).c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_DELETE,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            temporary = candidate;
            return file;
        }
        if (::GetLastError() != ERROR_FILE_EXISTS) {
            return INVALID_HANDLE_VALUE;
        }
    }
    return INVALID_HANDLE_VALUE;
}

} // namespace

Result<void> WriteAll(int fd, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (size > 0) {
        const unsigned chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
        const int written = ::_write(fd, bytes, chunk);
        if (written < 0) {
            return RuntimeError();
        }
        if (written == 0) {
            return Fail(std::errc::io_error);
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
    return {};
}

Result<void> ReadExactly(int fd, void* data, std::size_t size) {
    auto* bytes = static_cast<unsigned char*>(data);
    while (size > 0) {
        const unsigned chunk = size > INT_MAX ? INT_MAX : static_cast<unsigned>(size);
        const int got = ::_read(fd, bytes, chunk);
        if (got < 0) {
            return RuntimeError();
        }
        if (got == 0) {
            return Fail(std::errc::io_error);
        }
        bytes += got;
        size -= static_cast<std::size_t>(got);
    }
    return {};
}

namespace {

FileRead ReadFileAt(const std::string& path, std::size_t limit) {
    // Others may go on reading, writing, and replacing the file while we read it.
    const Handle file(::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        // Said in the portable code, which the program's own tests for a missing file compare with.
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return Fail(std::errc::no_such_file_or_directory);
        }
        return FailSystem(static_cast<int>(error));
    }
    // A pipe or a device under the name is refused rather than read, since a read of it could block.
    LARGE_INTEGER size{};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK) {
        return Fail(std::errc::invalid_argument);
    }
    if (!::GetFileSizeEx(file.Get(), &size)) {
        return LastError();
    }
    if (size.QuadPart < 0 || static_cast<unsigned long long>(size.QuadPart) > limit) {
        return Fail(std::errc::file_too_large);
    }
    Bytes data(static_cast<std::size_t>(size.QuadPart) + 1);
    std::size_t got = 0;
    for (;;) {
        if (got == data.size()) {
            if (got > limit) {
                return Fail(std::errc::file_too_large);
            }
            data.resize(data.size() * 2);
        }
        const std::size_t room = data.size() - got;
        DWORD read = 0;
        if (!::ReadFile(file.Get(), data.data() + got, room > 0x40000000 ? 0x40000000 : static_cast<DWORD>(room), &read,
                        nullptr)) {
            return LastError();
        }
        if (read == 0) {
            data.resize(got);
            return data;
        }
        got += read;
    }
}

} // namespace

FileRead ReadFile(const std::string& path, std::size_t limit) {
    return ReadFileAt(path, limit).Doing("reading " + path);
}

Bytes ReadWholeFile(const std::string& path) {
    return ReadFile(path).value_or(Bytes());
}

std::string FollowLinks(const std::string& path) {
    // The system resolves every link on the way; a path that does not open (missing, or a dangling link) stays.
    const Handle file(::CreateFileW(WideFromUtf8(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.Valid()) {
        return path;
    }
    std::wstring final(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::GetFinalPathNameByHandleW(file.Get(), final.data(), static_cast<DWORD>(final.size()),
                                                         FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) {
            return path;
        }
        if (length < final.size()) {
            final.resize(length);
            // The answer comes in the long form "\\?\C:\...", or "\\?\UNC\server\..." for a share.
            if (final.starts_with(L"\\\\?\\UNC\\")) {
                final = L"\\\\" + final.substr(8);
            } else if (final.starts_with(L"\\\\?\\")) {
                final = final.substr(4);
            }
            return Utf8FromWide(final);
        }
        final.resize(length);
    }
    return path;
}

Result<void> MayReplace(const std::string& path) {
    const std::string target = FollowLinks(path);
    const std::wstring wide = WideFromUtf8(target);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Result<void>() : FailSystem(error);
    }
    if ((attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
        return FailSystem(ERROR_ACCESS_DENIED);
    }
    // Whether this user may write it: ask for write access without writing anything.
    const Handle file(
        ::CreateFileW(wide.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return OutcomeOf(file.Valid() || ::GetLastError() == ERROR_SHARING_VIOLATION);
}

namespace {

Result<void> ReplaceFileAt(const std::string& path, const Bytes& data) {
    // Replace the file a link names, so the link keeps working.
    const std::string target = FollowLinks(path);
    if (Result<void> allowed = MayReplace(target); !allowed) {
        return allowed;
    }
    RemoveStaleTemporaries(target);
    std::string temporary;
    Handle file(CreateLockedTemporary(target, temporary));
    if (!file.Valid()) {
        return LastError();
    }
    // The handle stays open until the move, so that no other instance's clean-up removes the file first.
    Result<void> written = WriteHandle(file.Get(), data.data(), data.size());
    if (written) {
        written = OutcomeOf(::FlushFileBuffers(file.Get()));
    }
    if (written) {
        written = OutcomeOf(::MoveFileExW(WideFromUtf8(temporary).c_str(), WideFromUtf8(target).c_str(),
                                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH));
    }
    file.Close();
    if (!written) {
        ::DeleteFileW(WideFromUtf8(temporary).c_str());
    }
    return written;
}

} // namespace

Result<void> ReplaceFileAtomically(const std::string& path, const Bytes& data, mode_t /*mode*/) {
    return ReplaceFileAt(path, data).Doing("replacing " + path);
}

void RemoveStaleTemporaries(const std::string& path) {
    const std::string target = FollowLinks(path);
    const std::string base = NameOf(target);
    const std::string directory = DirectoryOf(target);
    WIN32_FIND_DATAW found{};
    const std::wstring pattern = WideFromUtf8(Join(directory, base + std::string(kTemporaryInfix) + "*"));
    const HANDLE search = ::FindFirstFileW(pattern.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        const std::string name = Utf8FromWide(found.cFileName);
        if (!IsTemporaryName(name, base) ||
            (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
            continue;
        }
        // Opening it alone succeeds only when no living writer holds it; it then goes when closed.
        const Handle stale(::CreateFileW(WideFromUtf8(Join(directory, name)).c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_DELETE_ON_CLOSE | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesW(Win32::WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

FileStamp StampOf(const std::string& path) {
    const Handle file(::CreateFileW(WideFromUtf8(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!file.Valid() || ::GetFileInformationByHandle(file.Get(), &info) == 0) {
        return {};
    }
    const auto join = [](DWORD high, DWORD low) { return (std::uint64_t{high} << 32) | low; };
    return {true,
            join(info.nFileSizeHigh, info.nFileSizeLow),
            join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime),
            join(info.ftCreationTime.dwHighDateTime, info.ftCreationTime.dwLowDateTime),
            info.dwVolumeSerialNumber,
            join(info.nFileIndexHigh, info.nFileIndexLow)};
}

bool LinksAreTrusted(const std::string&) {
    // Making a symbolic link takes a privilege on Windows that other ordinary users do not have.
    return true;
}
