#include "runtime/Files.h"
#include "runtime/Log.h"
#include "runtime/ProgramDirectory.h"

std::string DataDirectories::ReadPath(const std::string& name) const {
    if (!save.empty() && save != program) {
        std::string own = save + kPathSeparator + name;
        if (PathExists(own)) {
            return own;
        }
    }
    std::string programs = program + kPathSeparator + name;
    if (!LinksAreTrusted(programs) && !save.empty()) {
        return save + kPathSeparator + name;
    }
    return programs;
}

std::string DataDirectories::SavePath(const std::string& name) const {
    return save.empty() ? std::string() : save + kPathSeparator + name;
}

std::string DataDirectories::EditablePath(const std::string& name) const {
    const std::string readPath = ReadPath(name);
    const std::string savePath = SavePath(name);
    if (!LinksAreTrusted(readPath)) {
        // Changed in place through another user's link, a file of their choosing would be ours to write: the
        // user's own directory keeps the file instead.
        const std::string own = UserDataDirectory();
        return own.empty() ? std::string() : own + kPathSeparator + name;
    }
    if (savePath.empty() || readPath == savePath) {
        return readPath;
    }
    // The program's copy is carried over once, so its contents are not lost behind an empty new file.
    const FileRead file = ReadFile(readPath);
    if (file) {
        // Without the copy the file is made anew where saves go; the program's own copy stays as it was.
        if (Result<void> copied = ReplaceFileAtomically(savePath, *file, 0600); !copied) {
            Log::Failure("files", "copying " + name + " to the per-user directory failed", copied.error());
        }
    } else if (!IsMissing(file)) {
        Log::Failure("files", "copying " + name + " to the per-user directory failed", file.error());
    }
    return savePath;
}
