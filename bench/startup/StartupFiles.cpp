#include "StartupFiles.h"

#include "bookmarks/BookmarkStore.h"
#include "bookmarks/DefaultBookmarkImage.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"

bool WriteStartupFiles(const std::string& directory, int servers, int bookmarks, unsigned port) {
    if (bookmarks > 0) {
        const BookmarkStore store(directory + "/websc.edb");
        if (!ReplaceFileAtomically(store.Path(), DefaultBookmarkImage(), 0644)) {
            return false;
        }
        for (int i = 1; i < bookmarks; ++i) {
            if (!store.Add(
                    {Gbk::FromUtf8("网站") + std::to_string(i), "https://127.0.0.1/page/" + std::to_string(i)})) {
                return false;
            }
        }
    }
    if (servers > 0) {
        std::string settings;
        for (int i = 0; i < servers; ++i) {
            settings += "127.0.0.1|" + std::to_string(port) + "|admin|pw|server " + std::to_string(i) + "\r\n";
        }
        settings += "#admin:0\r\n#Start:1\r\n#LoadinPass:<>\r\n";
        return static_cast<bool>(ReplaceFileAtomically(directory + "/" + kSettingsFileName,
                                                       Rc4Crypt(BytesFromText(settings), kSettingsKey), 0600));
    }
    return true;
}
