#include "runtime/TemporaryFiles.h"

#include "runtime/HandleWin32.h"
#include "runtime/WideTextWin32.h"

#include <windows.h>
// After windows.h, which it needs.
#include <bcrypt.h>

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
    if (!file.Close() || !ok) {
        // A half-written file is of no use to anyone and would only be mistaken for a whole one.
        ::DeleteFileW(Win32::WideFromUtf8(path).c_str());
        return NewFileResult::Failed;
    }
    return NewFileResult::Written;
}

bool RandomBits(std::uint64_t& number) {
    return BCRYPT_SUCCESS(
        ::BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&number), sizeof number, BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
