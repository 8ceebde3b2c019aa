#include "app/AppState.h"
#include "app/Application.h"
#include "app/StartUp.h"
#include "runtime/ProgramDirectory.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    ConfigureApplication();

    AppState state;
    state.directories = LocateDataDirectories();
    // The data files are addressed by full path; the current directory only matters to the programs started
    // from here, so failing to enter it changes nothing worth reporting.
    static_cast<void>(EnterDataDirectory(state.directories));
    const std::unique_ptr<MainWindow> mainWindow = StartUp(state);
    return QApplication::exec();
}
