// A second process for the tests that need two: it appends bookmarks to a shared file, holds it exclusively,
// saves a file over and over until it is killed, adds servers to a shared settings file or holds its lock. What
// it holds, it holds until the test says to let go (WaitUntilHeld and Release in Win32TestSupport.h).
#include "bookmarks/BookmarkStore.h"
#include "bookmarks/recorddb/RecordDb.h"
#include "runtime/Files.h"
#include "runtime/ProcessLock.h"
#include "settings/SharedSettings.h"

#include <cstdlib>
#include <string>
#include <windows.h>

namespace {

int Append(const std::string& path, const std::string& tag, int count) {
    const BookmarkStore store(path);
    for (int i = 0; i < count; ++i) {
        const std::string name = tag + "-" + std::to_string(i);
        // Another writer may hold the file for longer than one wait; a failed add is tried again.
        int tries = 0;
        while (!store.Add(Bookmark{name, "http://127.0.0.1/" + name})) {
            if (++tries == 50) {
                return 1;
            }
        }
    }
    return 0;
}

// Saves two large contents in turn forever; whenever it is killed, the file must hold one of them whole.
int SaveForever(const std::string& path, std::size_t size) {
    const Bytes first(size, 'a');
    const Bytes second(size, 'b');
    for (unsigned round = 0;; ++round) {
        if (!ReplaceFileAtomically(path, round % 2 == 0 ? first : second, 0600)) {
            return 1;
        }
        // Tells the test that saves are under way, so its kill lands in the middle of one.
        if (round == 0) {
            static_cast<void>(ReplaceFileAtomically(path + "-saving", {}, 0600));
        }
    }
}

// Tells the test that what it waits for is held, by a file `path`-held, and keeps it until the test makes
// `path`-release or `millis` pass; false when the test never let go.
bool HeldUntilReleased(const std::string& path, int millis) {
    if (!ReplaceFileAtomically(path + "-held", {}, 0600)) {
        return false;
    }
    const ULONGLONG end = ::GetTickCount64() + static_cast<ULONGLONG>(millis);
    while (!StampOf(path + "-release").exists) {
        if (::GetTickCount64() > end) {
            return false;
        }
        ::Sleep(10);
    }
    return true;
}

// Holds the file open exclusively until the test lets go.
int Hold(const std::string& path, int millis) {
    if (!RecordDb::Open(path, {}, false, RecordDb::ShareMode::Exclusive)) {
        return 1;
    }
    const bool released = HeldUntilReleased(path, millis);
    RecordDb::CloseAll();
    return released ? 0 : 3;
}

// Adds `count` servers to a shared ms.ini, saving after each as a window does.
int AddServers(const std::string& path, const std::string& tag, int count) {
    SharedSettingsFile file(path, {});
    SettingsContent mine;
    for (int i = 0; i < count; ++i) {
        mine.servers.push_back({"127.0.0." + tag, std::to_string(1000 + i), "admin", "", "", ServerStatus::Unknown});
        SharedSettingsFile::Saved saved;
        do {
            saved = file.Save(mine, std::chrono::milliseconds(50));
        } while (!saved.outcome && saved.outcome.Reason() == std::errc::device_or_resource_busy);
        if (!saved.outcome || saved.refused) {
            return 1;
        }
        mine = saved.merged.content;
    }
    return 0;
}

// Holds the save lock of a settings file until the test lets go.
int HoldLock(const std::string& path, int millis) {
    ProcessLock lock;
    if (!lock.Acquire(SharedSettingsFile::LockPathFor(path), std::chrono::seconds(5))) {
        return 1;
    }
    return HeldUntilReleased(path, millis) ? 0 : 3;
}

} // namespace

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "append" && argc == 5) {
        return Append(argv[2], argv[3], std::atoi(argv[4]));
    }
    if (mode == "save" && argc == 4) {
        return SaveForever(argv[2], static_cast<std::size_t>(std::atoll(argv[3])));
    }
    if (mode == "hold" && argc == 4) {
        return Hold(argv[2], std::atoi(argv[3]));
    }
    if (mode == "addservers" && argc == 5) {
        return AddServers(argv[2], argv[3], std::atoi(argv[4]));
    }
    if (mode == "holdlock" && argc == 4) {
        return HoldLock(argv[2], std::atoi(argv[3]));
    }
    return 2;
}
