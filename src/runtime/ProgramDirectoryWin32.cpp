#include "runtime/ProgramDirectory.h"

#include "runtime/Files.h"
#include "runtime/HandleWin32.h"
#include "runtime/LastErrorWin32.h"
#include "runtime/WideTextWin32.h"

#include <cstdlib>
#include <windows.h>

using Win32::Utf8FromWide;
using Win32::WideFromUtf8;

namespace {

constexpr const char* kUserFolder = "Tolvar";

// A real directory, not a link or junction that could send the files elsewhere.
bool IsPlainDirectory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(WideFromUtf8(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
           (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// Whether files can be created in `directory`: the only sure answer under the system's access rules is to try.
bool IsWritableDirectory(const std::string& directory) {
    const std::string probe = directory + "\\.tolvar-probe-" + std::to_string(::GetCurrentProcessId()) + "-" +
                              std::to_string(::GetTickCount());
    const Win32::Handle file(::CreateFileW(WideFromUtf8(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                           FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    return file.Valid();
}

// The process's own environment, where a change made while it runs is seen too (the C runtime keeps a copy).
std::wstring EnvironmentValue(const wchar_t* name) {
    std::wstring value(::GetEnvironmentVariableW(name, nullptr, 0), L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

// Whether `directory` lies in one of the system's folders for installed programs.
bool IsInstalled(const std::string& directory) {
    const std::wstring path = WideFromUtf8(directory) + L"\\";
    for (const wchar_t* variable : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
        std::wstring folder = EnvironmentValue(variable);
        if (folder.empty()) {
            continue;
        }
        while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) {
            folder.pop_back();
        }
        folder += L'\\';
        if (path.size() >= folder.size() &&
            ::CompareStringOrdinal(path.c_str(), static_cast<int>(folder.size()), folder.c_str(),
                                   static_cast<int>(folder.size()), TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string PrivateSessionDirectory() {
    // The temporary directory Windows gives each user lies in the user's own profile.
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return "";
    }
    std::string directory = Utf8FromWide(std::wstring_view(buffer, length));
    while (!directory.empty() && (directory.back() == '\\' || directory.back() == '/')) {
        directory.pop_back();
    }
    return IsPlainDirectory(directory) ? directory : "";
}

std::string ProgramDirectory() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) {
            return ".";
        }
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);
    }
    const auto slash = path.find_last_of(L"\\/");
    if (slash == std::wstring::npos) {
        return ".";
    }
    // "C:\tolvar.exe" lives in "C:\".
    return Utf8FromWide(slash == 2 && path[1] == L':' ? path.substr(0, 3) : path.substr(0, slash));
}

std::string UserDataDirectory() {
    // %LOCALAPPDATA% is the user's own and not roamed, as a list of servers and their passwords should be.
    const std::wstring base = EnvironmentValue(L"LOCALAPPDATA");
    if (base.empty()) {
        return "";
    }
    std::string directory = Utf8FromWide(base);
    while (!directory.empty() && (directory.back() == '\\' || directory.back() == '/')) {
        directory.pop_back();
    }
    if (!IsPlainDirectory(directory)) {
        return "";
    }
    directory += "\\";
    directory += kUserFolder;
    if (!::CreateDirectoryW(WideFromUtf8(directory).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
        return "";
    }
    return IsPlainDirectory(directory) ? directory : "";
}

DataDirectories LocateDataDirectories(const std::string& programDirectory) {
    // A program under "Program Files" may not write beside itself; its files then go to the user's directory.
    // An installed program's folder belongs to the system even when an administrator could write there.
    if (!IsInstalled(programDirectory) && IsWritableDirectory(programDirectory)) {
        return {programDirectory, programDirectory};
    }
    return {programDirectory, UserDataDirectory()};
}

Result<void> EnterDataDirectory(const DataDirectories& directories) {
    const std::string& directory = directories.save.empty() ? directories.program : directories.save;
    return OutcomeOf(::SetCurrentDirectoryW(WideFromUtf8(directory).c_str()) != 0);
}
