#include "runtime/NewFile.h"

#include "runtime/LastErrorWin32.h"
#include "runtime/TemporaryFiles.h"
#include "runtime/WideTextWin32.h"

#include <windows.h>

Result<void> CreateNewFile(const std::string& path, const Bytes& data, mode_t /*mode*/) {
    const auto slash = path.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const std::string prefix = slash == std::string::npos ? ".\\" : directory;
    // Written whole beside the file, then moved in; without MOVEFILE_REPLACE_EXISTING the move fails on an
    // existing file, which is what makes the creation exclusive.
    for (unsigned attempt = 0; attempt < 16; ++attempt) {
        const std::string temporary = prefix + ".new-" + std::to_string(::GetCurrentProcessId()) + "-" +
                                      std::to_string(::GetTickCount() + attempt);
        const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
        switch (WriteNewFile(temporary, text)) {
        case NewFileResult::Exists:
            continue;
        case NewFileResult::Failed: {
            const Result<void> failed = LastError();
            ::DeleteFileW(Win32::WideFromUtf8(temporary).c_str());
            return failed;
        }
        case NewFileResult::Written:
            break;
        }
        const Result<void> moved = OutcomeOf(::MoveFileExW(Win32::WideFromUtf8(temporary).c_str(),
                                                           Win32::WideFromUtf8(path).c_str(), MOVEFILE_WRITE_THROUGH));
        if (!moved) {
            ::DeleteFileW(Win32::WideFromUtf8(temporary).c_str());
        }
        return moved;
    }
    return FailSystem(ERROR_FILE_EXISTS);
}
