#pragma once

#include "runtime/StampPoll.h"

#include <QObject>
#include <any>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QFileSystemWatcher;
class QTimer;

// A file that another process may change, watched for the window that shows it: through the file system's
// notices where they come (a local disk), and by its stamp every second where they do not (SMB, NFS). What
// the file holds is read by `read` off the window's thread, so a slow or hung share never holds the window up,
// and reaches `Changed` on it. While a dialog or box is open, whose code may work on what was there when it
// opened, nothing is delivered; the file is read afresh once it closes.
class WatchedFile : public QObject {
    Q_OBJECT

public:
    static constexpr auto kPollInterval = std::chrono::seconds(1);

    // `known` is the stamp of the file taken before the caller read what it shows, so that a change made in
    // between is delivered too.
    WatchedFile(std::string path, std::function<std::any()> read, QObject* parent = nullptr,
                std::optional<FileStamp> known = std::nullopt);
    ~WatchedFile() override;

    // Takes the file as it is now as seen: after this process's own write, which needs no reading back.
    void Seen();
    // Reads the file again at once, whether or not it seems changed.
    void ReadAgain();

    // Tests turn the file system's notices off to see that the poll alone finds a change.
    static void SetNoticesEnabled(bool enabled);

Q_SIGNALS:
    // The file changed; `content` is what `read` made of it.
    void Changed(const std::any& content);

private:
    class Relay;
    void WatchPaths();
    void Deliver(const std::any& content);

    std::string path_;
    std::shared_ptr<Relay> relay_;
    QFileSystemWatcher* notices_ = nullptr;
    std::unique_ptr<StampPoll> poll_;
    QTimer* waitForDialogs_;
};
