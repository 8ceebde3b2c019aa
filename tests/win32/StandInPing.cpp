// Stands in for the system's ping.exe: records the command line it was started with, as the system handed it
// over, in the file that TOLVAR_STANDIN_PING_RECORD names and its process id in that name followed by ".pid".
// Then it prints a reply line in code page 936 in three pieces, each cut inside a character and written on its
// own, and a last line on standard error. With " -t" in its command line it prints the reply until it is ended.
#include <cwchar>
#include <windows.h>

namespace {

// Written under another name and moved in whole, so the test never reads half a record.
bool WriteRecord(const wchar_t* path, const void* data, DWORD size) {
    wchar_t partial[MAX_PATH + 16] = {};
    ::lstrcpyW(partial, path);
    ::lstrcatW(partial, L".part");
    const HANDLE file =
        ::CreateFileW(partial, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return false;
    }
    DWORD written = 0;
    const BOOL ok = ::WriteFile(file, data, size, &written, nullptr);
    ::CloseHandle(file);
    return ok && ::MoveFileExW(partial, path, MOVEFILE_REPLACE_EXISTING);
}

// `text` in code page 936, as the Chinese system's ping prints it.
int Gbk(const wchar_t* text, char* out, int size) {
    return ::WideCharToMultiByte(936, 0, text, -1, out, size, nullptr, nullptr) - 1;
}

bool Print(HANDLE to, const char* bytes, int size) {
    DWORD written = 0;
    return ::WriteFile(to, bytes, static_cast<DWORD>(size), &written, nullptr) && written == static_cast<DWORD>(size);
}

} // namespace

int main() {
    wchar_t record[MAX_PATH] = {};
    if (::GetEnvironmentVariableW(L"TOLVAR_STANDIN_PING_RECORD", record, MAX_PATH) == 0) {
        return 2;
    }
    const wchar_t* line = ::GetCommandLineW();
    wchar_t pidRecord[MAX_PATH + 8] = {};
    ::lstrcpyW(pidRecord, record);
    ::lstrcatW(pidRecord, L".pid");
    char pid[16] = {};
    const int pidSize = ::wsprintfA(pid, "%lu", ::GetCurrentProcessId());
    if (!WriteRecord(pidRecord, pid, static_cast<DWORD>(pidSize)) ||
        !WriteRecord(record, line, static_cast<DWORD>(::lstrlenW(line) * sizeof(wchar_t)))) {
        return 3;
    }

    char reply[128] = {};
    const int replySize = Gbk(L"来自 127.0.0.1 的回复: 字节=32 时间<1ms TTL=128\r\n", reply, sizeof reply);
    char statistics[32] = {};
    const int statisticsSize = Gbk(L"统计信息\r\n", statistics, sizeof statistics);
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (std::wcsstr(line, L" -t") != nullptr) {
        while (Print(out, reply, replySize)) {
            ::Sleep(100);
        }
        return 4;
    }
    // After the first byte of "来", and inside "复" (its first byte is the 20th).
    const int cuts[] = {0, 1, 20, replySize};
    for (int i = 0; i + 1 < 4; ++i) {
        if (!Print(out, reply + cuts[i], cuts[i + 1] - cuts[i])) {
            return 5;
        }
        ::Sleep(150);
    }
    return Print(::GetStdHandle(STD_ERROR_HANDLE), statistics, statisticsSize) ? 0 : 6;
}
