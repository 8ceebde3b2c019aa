// Stands in for mstsc.exe: records the command line it was started with, as the system handed it over, in the
// file that TOLVAR_STANDIN_RECORD names, and ends. Each argument as CommandLineToArgvW splits the line follows
// on a line of its own, since that is how the client reads its file name.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

int main() {
    wchar_t record[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TOLVAR_STANDIN_RECORD", record, MAX_PATH) == 0) {
        return 2;
    }
    const wchar_t* line = ::GetCommandLineW();
    // Written under another name and moved in whole, so the test never reads half a record.
    wchar_t partial[MAX_PATH + 8] = {};
    ::lstrcpyW(partial, record);
    ::lstrcatW(partial, L".part");
    const HANDLE file =
        ::CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 3;
    }
    DWORD written = 0;
    BOOL ok = ::WriteFile(file, line, static_cast<DWORD>(::lstrlenW(line) * sizeof(wchar_t)), &written, nullptr);
    int count = 0;
    wchar_t** arguments = ::CommandLineToArgvW(line, &count);
    for (int i = 0; ok && arguments != nullptr && i < count; ++i) {
        ok = ::WriteFile(file, L"\n", sizeof(wchar_t), &written, nullptr) &&
             ::WriteFile(file, arguments[i], static_cast<DWORD>(::lstrlenW(arguments[i]) * sizeof(wchar_t)), &written,
                         nullptr);
    }
    ::LocalFree(arguments);
    ::CloseHandle(file);
    return ok && ::MoveFileExW(partial, record, MOVEFILE_REPLACE_EXISTING) ? 0 : 4;
}
