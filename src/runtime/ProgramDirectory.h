#pragma once

#include "runtime/Result.h"

#include <string>

// The directory that holds the program's executable, without a trailing separator.
[[nodiscard]] std::string ProgramDirectory();

// The per-user data directory ($XDG_DATA_HOME/tolvar, else ~/.local/share/tolvar), created when missing.
// Empty when there is none that is safely the user's own: every directory on the way that is made or reused
// must belong to the user and be writable by nobody else, since secrets are kept there.
[[nodiscard]] std::string UserDataDirectory();

// A directory for the files of this session that only the user may see: $XDG_RUNTIME_DIR/tolvar when the
// session has a runtime directory of the user's own, else "connections" in the per-user data directory. Made
// when missing. Empty when neither is the user's alone: a directory someone else could write into lets them
// swap a file under its name after we wrote it.
[[nodiscard]] std::string PrivateSessionDirectory();

// Where the data files (ms.ini, websc.edb) are read from and written to during one run.
struct DataDirectories {
    // Beside the program; its files are read when the save directory has none of its own.
    std::string program = ".";
    // Where files are written: the program directory when it is writable and not an installed program's
    // (under /usr), else the per-user data
    // directory; empty when neither can be used, and then nothing is stored.
    std::string save = ".";
    // The program directory is one everybody may write into, which is why nothing is saved there.
    bool programOpenToAll = false;

    // The save directory's copy of `name` when there is one, else the program directory's. A link there that
    // another user made is not taken: it names a file of their choosing.
    [[nodiscard]] std::string ReadPath(const std::string& name) const;
    // Where `name` is written; empty when nothing may be stored.
    [[nodiscard]] std::string SavePath(const std::string& name) const;
    // The path of a file that is changed in place: the save directory's copy, made from the program
    // directory's file on first use; the program directory's when nothing may be stored.
    [[nodiscard]] std::string EditablePath(const std::string& name) const;
};

[[nodiscard]] DataDirectories LocateDataDirectories(const std::string& programDirectory = ProgramDirectory());

// Makes the save directory (or, when there is none, the program directory) the current directory.
Result<void> EnterDataDirectory(const DataDirectories& directories);
