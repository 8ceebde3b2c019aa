#include "app/AppState.h"
#include "app/Application.h"
#include "app/StartUp.h"
#include "runtime/ProgramDirectory.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    // ms.ini and websc.edb live in the working directory; failing to enter it leaves them in the current one.
    EnterWorkingDirectory();
    ConfigureApplication();

    AppState state;
    const std::unique_ptr<MainWindow> mainWindow = StartUp(state);
    return QApplication::exec();
}
