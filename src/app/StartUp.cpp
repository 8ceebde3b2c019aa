#include "app/StartUp.h"

#include "app/AppState.h"
#include "app/AuthDialog.h"
#include "servers/ServerPage.h"
#include "settings/SettingsFile.h"
#include "tools/NetToolsPage.h"

std::unique_ptr<MainWindow> StartUp(AppState& state) {
    state.settingsBytes = LoadSettings();
    state.startupPassword = StartupPasswordOf(state.settingsBytes);

    auto mainWindow = std::make_unique<MainWindow>();
    mainWindow->show();

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

    auto* netToolsPage = new NetToolsPage;
    auto* serverPage = new ServerPage(state.servers, state.settingsBytes, state.startupPassword);
    mainWindow->EmbedPages(serverPage, netToolsPage);
    QObject::connect(mainWindow.get(), &MainWindow::AboutToBeDestroyed, serverPage, &ServerPage::SaveSettings);
    return mainWindow;
}
