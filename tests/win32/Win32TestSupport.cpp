#include "Win32TestSupport.h"

#include "runtime/Files.h"
#include "runtime/ProgramDirectory.h"
#include "runtime/WideTextWin32.h"

std::string BesideTest(const std::string& fileName) {
    return ProgramDirectory() + "\\" + fileName;
}

HANDLE StartChild(const std::string& program, const std::vector<std::string>& arguments) {
    std::string line = "\"" + program + "\"";
    for (const std::string& argument : arguments) {
        line += " " + argument;
    }
    std::wstring wide = Win32::WideFromUtf8(line);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, wide.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
        return nullptr;
    }
    ::CloseHandle(process.hThread);
    return process.hProcess;
}

int WaitForChild(HANDLE process, std::chrono::milliseconds bound) {
    DWORD code = 0;
    const bool ended = ::WaitForSingleObject(process, static_cast<DWORD>(bound.count())) == WAIT_OBJECT_0 &&
                       ::GetExitCodeProcess(process, &code);
    ::CloseHandle(process);
    return ended ? static_cast<int>(code) : -1;
}

void SetVariable(const std::string& name, const std::string& value) {
    ::SetEnvironmentVariableW(Win32::WideFromUtf8(name).c_str(), Win32::WideFromUtf8(value).c_str());
}

bool WaitUntilHeld(const std::string& path, std::chrono::milliseconds bound) {
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(bound.count());
    while (!StampOf(path + "-held").exists) {
        if (::GetTickCount64() > end) {
            return false;
        }
        ::Sleep(10);
    }
    return true;
}

void Release(const std::string& path) {
    static_cast<void>(ReplaceFileAtomically(path + "-release", {}, 0600)); // a child never released ends by itself
}
