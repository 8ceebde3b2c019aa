#pragma once

#include "settings/SharedSettings.h"

#include <QObject>
#include <any>
#include <atomic>
#include <memory>
#include <optional>

class QTimer;
class ServerPage;
class WatchedFile;

// Keeps the server page and ms.ini in step when other windows, in this or other processes, share the file:
// every change of the page is saved at once, merged with what the others wrote, and what they write appears in
// the page within seconds. A save that fails is said once, with the system's reason; the page keeps its edits,
// and the save is tried again at the next change and every ten seconds until it succeeds, which is said too.
class SettingsSync : public QObject {
    Q_OBJECT

public:
    static constexpr auto kRetryInterval = std::chrono::seconds(10);

    // Keeps `page` and the settings file at `path` in step; failed saves are tried again every `retryInterval`.
    // `loaded` is the file's stamp from before the page's content was read from it.
    SettingsSync(std::string path, ServerPage* page, const FileStamp& loaded,
                 std::chrono::milliseconds retryInterval = kRetryInterval);
    ~SettingsSync() override;

    // Saves the page's state now. At exit, when the program may not ask anyone anything, boxes stay unshown.
    void Save();
    void SaveAtExit(bool quiet);

private:
    void SaveWith(std::chrono::milliseconds patience, bool quiet);
    void OnFileChanged(const std::any& content);
    // Shows what the file and the page together hold.
    void TakeIn(SettingsOnDisk& disk);
    void TellConflicts(const std::vector<SettingsConflict>& conflicts);
    void Failed(const QString& reason, bool quiet);

    ServerPage* page_;
    SharedSettingsFile file_;
    WatchedFile* watch_;
    QTimer* retry_;
    std::chrono::milliseconds retryInterval_;
    // Counts this window's own saves, so that a read the watch made before one of them is not taken for news.
    std::shared_ptr<std::atomic<quint64>> saves_ = std::make_shared<std::atomic<quint64>>(0);
    bool failing_ = false;
    // The page holds changes the file does not, after a save that failed or has yet to be tried again.
    bool unsaved_ = false;
    std::chrono::steady_clock::time_point busySince_{};
};
