#include "runtime/ProgramDirectory.h"

#include "runtime/Files.h"
#include "runtime/LastErrorPosix.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A directory of the user's own that nobody else can write into (and so plant or swap files in).
bool IsPrivateDirectory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Makes every missing directory of `path`; those it makes and those from the length `ownedFrom` on must be
// private, while directories above that are the system's and the user's own business.
bool MakePrivateDirectories(const std::string& path, std::size_t ownedFrom) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        const bool made = ::mkdir(part.c_str(), 0700) == 0;
        if (!made && errno != EEXIST) {
            return false;
        }
        if ((made || part.size() >= ownedFrom) && !IsPrivateDirectory(part)) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

// A directory only the user can enter, read or write, made when missing.
bool MakeClosedDirectory(const std::string& path) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) {
        return false;
    }
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
           (info.st_mode & 077) == 0;
}

} // namespace

std::string ProgramDirectory() {
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) {
        return ".";
    }
    const std::string path(buffer, static_cast<std::size_t>(length));
    const auto slash = path.rfind('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string UserDataDirectory() {
    std::string base;
    std::string below;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        base = home;
        below = "/.local/share";
    } else {
        return "";
    }
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    // A named data directory is reused as it stands; under the home, everything from .local on is ours.
    const std::size_t ownedFrom = below.empty() ? base.size() : base.size() + 1;
    const std::string directory = base + below + "/tolvar";
    return MakePrivateDirectories(directory, std::max<std::size_t>(ownedFrom, 1)) ? directory : "";
}

std::string PrivateSessionDirectory() {
    // The session's runtime directory is the user's alone by definition; one that is not is not used.
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && runtime[0] == '/') {
        struct stat info {};
        const std::string own = std::string(runtime) + "/tolvar";
        if (::stat(runtime, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid() &&
            (info.st_mode & 077) == 0 && MakeClosedDirectory(own)) {
            return own;
        }
    }
    const std::string data = UserDataDirectory();
    if (data.empty()) {
        return "";
    }
    const std::string own = data + "/connections";
    return MakeClosedDirectory(own) ? own : "";
}

DataDirectories LocateDataDirectories(const std::string& programDirectory) {
    // An installed program's directory belongs to the system even when root could write there.
    const bool installed = programDirectory.starts_with("/usr/") || programDirectory == "/bin";
    // Anybody may put files into a world-writable directory, links to files of ours among them, so it keeps
    // nothing of ours; one shared with a group is for sharing the list, and whoever may write it is trusted.
    struct stat info {};
    const bool everybodys = ::stat(programDirectory.c_str(), &info) == 0 && (info.st_mode & S_IWOTH) != 0;
    if (!installed && !everybodys && ::faccessat(AT_FDCWD, programDirectory.c_str(), W_OK | X_OK, AT_EACCESS) == 0) {
        return {programDirectory, programDirectory};
    }
    DataDirectories directories{programDirectory, UserDataDirectory()};
    directories.programOpenToAll = everybodys;
    return directories;
}

Result<void> EnterDataDirectory(const DataDirectories& directories) {
    return OutcomeOf(::chdir((directories.save.empty() ? directories.program : directories.save).c_str()) == 0);
}
