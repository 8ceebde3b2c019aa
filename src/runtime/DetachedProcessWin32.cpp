#include "runtime/DetachedProcess.h"

#include "runtime/HandleWin32.h"
#include "runtime/LastErrorWin32.h"
#include "runtime/WideTextWin32.h"

#include <windows.h>

using Win32::Handle;
using Win32::WideFromUtf8;

namespace {

// One argument as the C runtime of the started program splits it again: quoted when it holds blanks or quotes,
// with the backslashes before a quote doubled.
std::wstring Quoted(const std::wstring& argument) {
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos) {
        return argument;
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

// Starts `commandLine`; `input` (when given) becomes the child's standard input. Closes the thread handle.
Result<void> Start(const wchar_t* program, std::wstring commandLine, HANDLE input, PROCESS_INFORMATION& process) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    if (input != nullptr) {
        startup.dwFlags |= STARTF_USESTDHANDLES;
        startup.hStdInput = input;
        startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    }
    process = PROCESS_INFORMATION{};
    if (!::CreateProcessW(program, commandLine.data(), nullptr, nullptr, input != nullptr, 0, nullptr, nullptr,
                          &startup, &process)) {
        return LastError();
    }
    ::CloseHandle(process.hThread);
    return {};
}

} // namespace

std::string FindOnPath(const std::string& name) {
    if (name.empty()) {
        return {};
    }
    std::wstring found(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD length = ::SearchPathW(nullptr, WideFromUtf8(name).c_str(), L".exe",
                                           static_cast<DWORD>(found.size()), found.data(), nullptr);
        if (length == 0) {
            return {};
        }
        if (length < found.size()) {
            found.resize(length);
            return Win32::Utf8FromWide(found);
        }
        found.resize(length);
    }
    return {};
}

namespace {

Result<void> Detach(const std::string& program, const std::vector<std::string>& arguments, std::string_view input) {
    const std::wstring wideProgram = WideFromUtf8(program);
    std::wstring commandLine = Quoted(wideProgram);
    for (const std::string& argument : arguments) {
        commandLine += L" " + Quoted(WideFromUtf8(argument));
    }
    Handle readEnd;
    if (!input.empty()) {
        // The input waits in the pipe before the child exists; a pipe holds far more than a password.
        SECURITY_ATTRIBUTES inherited{sizeof inherited, nullptr, TRUE};
        HANDLE reading = nullptr;
        HANDLE writing = nullptr;
        if (!::CreatePipe(&reading, &writing, &inherited, 0)) {
            return LastError();
        }
        readEnd.Reset(reading);
        const Handle writeEnd(writing);
        ::SetHandleInformation(writing, HANDLE_FLAG_INHERIT, 0);
        DWORD written = 0;
        // A pipe holds far more than a password; should the write still fail, the client sees its input end early
        // and asks for the password itself, which is all that could be done about it.
        static_cast<void>(::WriteFile(writing, input.data(), static_cast<DWORD>(input.size()), &written, nullptr));
    }
    PROCESS_INFORMATION process{};
    if (Result<void> started =
            Start(wideProgram.c_str(), commandLine, readEnd.Valid() ? readEnd.Get() : nullptr, process);
        !started) {
        return started;
    }
    ::CloseHandle(process.hProcess);
    return {};
}

Result<void> RunCommandLine(const std::string& commandLine, std::chrono::milliseconds idleWait) {
    PROCESS_INFORMATION process{};
    if (Result<void> started = Start(nullptr, WideFromUtf8(commandLine), nullptr, process); !started) {
        return started;
    }
    // Give the client the moment it needs to show its window, but never wait for the session.
    ::WaitForInputIdle(process.hProcess, static_cast<DWORD>(idleWait.count()));
    ::CloseHandle(process.hProcess);
    return {};
}

} // namespace

Result<void> StartDetached(const std::string& program, const std::vector<std::string>& arguments,
                           std::string_view input) {
    return Detach(program, arguments, input).Doing("starting " + program);
}

Result<void> StartCommandLine(const std::string& commandLine, std::chrono::milliseconds idleWait) {
    return RunCommandLine(commandLine, idleWait).Doing("starting " + commandLine);
}

// mstsc.exe tells the user of a failed login itself, so nothing on Windows watches how a client ends.
WatchedProcess::~WatchedProcess() {
    if (notice_ != -1) {
        ::CloseHandle(reinterpret_cast<HANDLE>(notice_));
    }
}

Result<WatchedProcess> StartWatched(const std::string& program, const std::vector<std::string>&, std::string_view) {
    return Fail(std::errc::not_supported, "starting " + program);
}

std::optional<ProcessEnd> CollectEnd(int) {
    return std::nullopt;
}
