#include "runtime/TemporaryFiles.h"

#include "runtime/win32/Handle.h"
#include "runtime/win32/WideText.h"

#include <windows.h>

std::string TemporaryDirectory() {
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) {
        return ".\\";
    }
    std::string directory = Win32::Utf8FromWide(std::wstring_view(buffer, length));
    if (directory.back() != '\\' && directory.back() != '/') {
        directory += '\\';
    }
    return directory;
}

NewFileResult WriteNewFile(const std::string& path, std::string_view data) {
    // CREATE_NEW fails on any name that is taken, a link included, so the write cannot be sent elsewhere.
    Win32::Handle file(::CreateFileW(Win32::WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? NewFileResult::Exists
                                                                           : NewFileResult::Failed;
    }
    bool ok = true;
    for (std::size_t done = 0; ok && done < data.size();) {
        const std::size_t left = data.size() - done;
        DWORD written = 0;
        ok = ::WriteFile(file.Get(), data.data() + done, left > 0x40000000 ? 0x40000000 : static_cast<DWORD>(left),
                         &written, nullptr) &&
             written > 0;
        done += written;
    }
    ok = ok && ::FlushFileBuffers(file.Get());
    return file.Close() && ok ? NewFileResult::Written : NewFileResult::Failed;
}
