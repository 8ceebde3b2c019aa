#include "app/SettingsSync.h"

#include "runtime/GbkQt.h"
#include "runtime/Log.h"
#include "runtime/MsgBox.h"
#include "runtime/WatchedFile.h"
#include "servers/ServerPage.h"

#include <QTimer>
#include <atomic>

namespace {

// The window's thread waits no longer than this for another process's save; past it the save is tried again.
constexpr auto kPatience = std::chrono::milliseconds(100);
constexpr auto kPatienceAtExit = std::chrono::seconds(3);
constexpr auto kBusyRetry = std::chrono::milliseconds(200);
// Another process holding the lock this long is no longer a save in progress but a failure to say.
constexpr auto kBusyTooLong = std::chrono::seconds(10);

struct DiskRead {
    // Shared, so that the window's thread takes it over rather than copying a long list.
    std::shared_ptr<SettingsOnDisk> disk;
    quint64 saves;
};

QString EntryName(const ServerEntry& entry) {
    return Gbk::ToQString(entry.host) + u':' + Gbk::ToQString(entry.port);
}

bool IsBusy(const Result<void>& outcome) {
    return outcome.Reason() == std::make_error_condition(std::errc::device_or_resource_busy);
}

} // namespace

SettingsSync::SettingsSync(std::string path, ServerPage* page, const FileStamp& loaded,
                           std::chrono::milliseconds retryInterval)
    : QObject(page)
    , page_(page)
    , file_(std::move(path), page->Content())
    , watch_(nullptr)
    , retry_(new QTimer(this))
    , retryInterval_(retryInterval) {
    // The watch's thread notes the count of saves as it starts a read.
    watch_ = new WatchedFile(
        file_.Path(),
        [path = file_.Path(), saves = saves_] {
            const quint64 before = saves->load();
            return std::any(DiskRead{std::make_shared<SettingsOnDisk>(ReadSettingsOnDisk(path)), before});
        },
        this, loaded);
    connect(watch_, &WatchedFile::Changed, this, [this](const std::any& content) {
        const auto& read = std::any_cast<const DiskRead&>(content);
        if (read.saves != saves_->load()) {
            // A save of ours came between; the file may hold more than that read saw.
            watch_->ReadAgain();
            return;
        }
        TakeIn(*read.disk);
    });

    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &SettingsSync::Save);
    connect(page_, &ServerPage::SettingsChanged, this, &SettingsSync::Save);
}

SettingsSync::~SettingsSync() = default;

void SettingsSync::Save() {
    SaveWith(kPatience, false);
}

void SettingsSync::SaveAtExit(bool quiet) {
    SaveWith(kPatienceAtExit, quiet);
}

void SettingsSync::SaveWith(std::chrono::milliseconds patience, bool quiet) {
    const SettingsContent mine = page_->Content();
    // Until the save below succeeds, the page holds what the file does not.
    unsaved_ = true;
    SharedSettingsFile::Saved saved = file_.Save(mine, patience);
    ++*saves_;
    watch_->Seen();
    if (IsBusy(saved.outcome)) {
        // Another window is saving; ours follows right after, unless that goes on so long that it is a failure.
        const auto now = std::chrono::steady_clock::now();
        if (busySince_ == std::chrono::steady_clock::time_point{}) {
            busySince_ = now;
        }
        if (now - busySince_ < kBusyTooLong) {
            retry_->start(kBusyRetry);
            return;
        }
        Failed(QStringLiteral("另一个程序长时间锁定了该文件"), quiet);
        return;
    }
    busySince_ = {};
    if (saved.refused) {
        Log::Failure("settings", "ms.ini was replaced by what is no settings file, so it was not written");
        Failed(QStringLiteral("该文件已被其他程序替换为无法读取的内容，为免覆盖，没有写入"), quiet);
        return;
    }
    if (!saved.outcome) {
        Log::Failure("settings", "saving ms.ini failed", saved.outcome.Reason());
        Failed(QString::fromLocal8Bit(saved.outcome.Reason().message()), quiet);
        return;
    }
    unsaved_ = false;
    if (failing_) {
        failing_ = false;
        retry_->stop();
        if (!quiet) {
            MsgBox::Show(QStringLiteral("设置文件 ms.ini 已重新保存，之前未能保存的更改现已写入。"));
        }
    }
    if (!saved.merged.content.SameAs(mine)) {
        page_->ShowContent(saved.merged.content);
    }
    if (!quiet) {
        TellConflicts(saved.merged.conflicts);
    }
}

void SettingsSync::Failed(const QString& reason, bool quiet) {
    if (!failing_ && !quiet) {
        failing_ = true;
        MsgBox::Show(QStringLiteral("无法保存设置文件 ms.ini：%1。\n\n更改仍保留在窗口中；下次更改时和每隔 10 "
                                    "秒会再试一次，保存成功时会告诉你。")
                         .arg(reason),
                     MsgBox::DefaultCaption(), MsgBox::Buttons::Ok, MsgBox::Icon::Warning);
    }
    failing_ = true;
    retry_->start(retryInterval_);
}

void SettingsSync::TakeIn(SettingsOnDisk& disk) {
    if (disk.state == SettingsOnDisk::State::Refused || !disk.stamp.exists || disk.stamp.size == 0) {
        // Nothing to take from a file we may not read or that is gone; the next save says what it must.
        return;
    }
    if (file_.IsBase(disk)) {
        return;
    }
    if (!unsaved_) {
        // Everything this window holds is in the base, so what the file holds now is all there is to show.
        page_->ShowContent(disk.content);
        file_.TakeIn(std::move(disk));
        return;
    }
    const MergedSettings merged = file_.TakeIn(page_->Content(), disk);
    page_->ShowContent(merged.content);
    TellConflicts(merged.conflicts);
    // Edits of ours that the file does not hold yet, from a save that failed, go in now.
    if (!merged.content.SameAs(disk.content)) {
        Save();
    }
}

void SettingsSync::TellConflicts(const std::vector<SettingsConflict>& conflicts) {
    if (conflicts.empty()) {
        return;
    }
    QStringList names;
    for (const SettingsConflict& conflict : conflicts) {
        names.append(EntryName(conflict.original));
    }
    MsgBox::Show(QStringLiteral("服务器 %1 在另一个窗口中同时被修改为不同的内容。两个版本都已保留在列表中，"
                                "请删除不需要的那一个。")
                     .arg(names.join(QStringLiteral("、"))),
                 MsgBox::DefaultCaption(), MsgBox::Buttons::Ok, MsgBox::Icon::Information);
}
