#include "app/StartUp.h"

#include "app/AppState.h"
#include "app/AuthDialog.h"
#include "app/EndOnSignals.h"
#include "app/SettingsSync.h"
#include "bookmarks/BookmarkStore.h"
#include "runtime/Log.h"
#include "runtime/MsgBox.h"
#include "servers/ServerPage.h"
#include "servers/TrayNotifier.h"
#include "settings/SettingsFile.h"
#include "tools/NetToolsPage.h"

#include <QGuiApplication>

namespace {

// Why the settings of this run will not be kept, as the user is told once; empty when they will be.
QString SkippedSaveText(SettingsSaveBlock block, const std::string& readFailure) {
    switch (block) {
    case SettingsSaveBlock::Unreadable:
        return QStringLiteral("无法读取设置文件 ms.ini，为免覆盖其中的内容，本次的更改没有保存。\n%1")
            .arg(QString::fromLocal8Bit(readFailure));
    case SettingsSaveBlock::ReadOnly:
        return QStringLiteral("设置文件 ms.ini 不可写入，本次的更改没有保存。");
    case SettingsSaveBlock::NoDirectory:
        return QStringLiteral("找不到可以保存设置的目录，本次运行中的更改都不会保存。");
    case SettingsSaveBlock::None:
        break;
    }
    return {};
}

} // namespace

std::unique_ptr<MainWindow> StartUp(AppState& state) {
    LoadedSettings loaded = LoadSettings(state.directories);
    state.settingsBytes = std::move(loaded.bytes);
    state.settingsSavePath = std::move(loaded.savePath);
    state.settingsSaveBlock = loaded.block;
    if (loaded.readFailure) {
        state.settingsReadFailure = loaded.readFailure->Message();
        Log::Failure("settings", "ms.ini is not saved this run", *loaded.readFailure);
    }
    state.startupPassword = StartupPasswordOf(state.settingsBytes);

    // The bookmark file is changed in place, so a copy beside the program is carried to where saves go; with
    // nowhere to save, the program's own copy is only read.
    auto mainWindow = std::make_unique<MainWindow>(
        BookmarkStore(state.directories.EditablePath(kBookmarkFileName), !state.directories.save.empty()));
    mainWindow->show();
    // Without a place to keep anything the user should know before changing anything.
    if (state.settingsSaveBlock == SettingsSaveBlock::NoDirectory) {
        MsgBox::Show(SkippedSaveText(state.settingsSaveBlock, state.settingsReadFailure));
    } else if (state.directories.programOpenToAll) {
        MsgBox::Show(QStringLiteral("程序所在的目录任何人都可以写入，为免他人替换其中的文件，设置和收藏保存在 %1 中。")
                         .arg(QString::fromStdString(state.directories.save)));
    }

    if (state.startupPassword.empty()) {
        state.unlocked = true;
    } else {
        AuthDialog dialog(state);
        dialog.exec();
    }
    if (!state.unlocked) {
        // Locked without pages: nothing was loaded, so nothing may overwrite the stored list at exit.
        return mainWindow;
    }

    auto* serverPage = new ServerPage(state.servers, state.settingsBytes, state.startupPassword);
    mainWindow->EmbedPages(serverPage, [] { return new NetToolsPage; });
    // The tray icon and the notices of servers going down or coming back, where the desktop has them.
    TrayNotifier::Install(mainWindow.get(), serverPage);
    // Every change is saved at once, so that neither a lost display nor a crash loses what was done before it,
    // and merged with what other windows over the same file saved meanwhile.
    SettingsSync* sync =
        state.settingsSavePath.empty() ? nullptr : new SettingsSync(state.settingsSavePath, serverPage, loaded.stamp);
    // The desktop session asks before it ends the program at a logout.
    QObject::connect(qApp, &QGuiApplication::commitDataRequest, serverPage, [sync] {
        if (sync != nullptr) {
            sync->SaveAtExit(true);
        }
    });
    QObject::connect(mainWindow.get(), &MainWindow::AboutToBeDestroyed, serverPage, [&state, sync] {
        if (sync != nullptr) {
            sync->SaveAtExit(EndRequested());
        }
        // A file we could not read or may not write is kept as it is; the user hears why once, here, unless a
        // signal is ending the program, when nobody may be there to close the box.
        if (state.settingsSavePath.empty() && state.settingsSaveBlock != SettingsSaveBlock::NoDirectory &&
            !EndRequested()) {
            MsgBox::Show(SkippedSaveText(state.settingsSaveBlock, state.settingsReadFailure));
        }
    });
    return mainWindow;
}
