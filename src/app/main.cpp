#include "app/AppState.h"
#include "app/Application.h"
#include "app/EndOnSignals.h"
#include "app/FontWarmUp.h"
#include "app/StartUp.h"
#include "runtime/Log.h"
#include "runtime/ProgramDirectory.h"

#include <QApplication>
#include <QCommandLineParser>

#ifdef _WIN32
#include <windows.h>
#else
#include "app/SessionBus.h"
#endif

namespace {

#ifndef _WIN32
// How long the start may wait for the session bus; a working one answers in a few milliseconds.
constexpr std::chrono::milliseconds kSessionBusBound{300};
#endif

// --help and --version answer on standard output without a display, so they are handled before the
// windows layer starts. Other arguments are left alone: they may be the windows layer's own (-platform ...).
void HandleCommandLine(int argc, char** argv) {
    if (argc < 2) {
        return;
    }
    const QCoreApplication core(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tolvar"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOLVAR_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Tolvar keeps a list of remote machines, shows which answer on their port, opens a remote\n"
                       "desktop session, runs a ping console and an IP lookup, and keeps bookmarks. Its files,\n"
                       "ms.ini and websc.edb, live beside the program, or in $XDG_DATA_HOME/tolvar (by default\n"
                       "~/.local/share/tolvar) when the program directory is not writable."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    // An option the program does not know starts it all the same, as it always has; the parser has nothing
    // more to say that anybody would read before the window.
    static_cast<void>(parser.parse(QCoreApplication::arguments()));
    if (parser.isSet(help)) {
        parser.showHelp(0);
    }
    if (parser.isSet(version)) {
        parser.showVersion();
    }
}

#ifdef _WIN32
// Under Wine, Qt's GDI and DirectWrite font engines draw the stand-in for SimSun so thin and light that enabled
// buttons and list rows read as disabled; Qt's own FreeType engine draws them black. Windows itself is left to
// the engines Qt picks there, and a platform named by the user is kept.
void DrawTextWithFreeTypeUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "windows:fontengine=freetype");
    }
}
#endif

} // namespace

int main(int argc, char** argv) {
    HandleCommandLine(argc, argv);
#ifdef _WIN32
    DrawTextWithFreeTypeUnderWine();
#else
    // Before the windows layer, whose input methods and themes may already ask the bus.
    // The answer is acted on inside: a bus that did not answer is not used for the rest of the run, and nothing
    // is there yet to tell of it.
    static_cast<void>(SettleSessionBus(kSessionBusBound));
#endif
    // The font configuration is read on the other core while the windows layer connects to the display.
    FontWarmUp fonts;
    QApplication application(argc, argv);
    fonts.Finish();
    ConfigureApplication();
    EndOnSignals();

    AppState state;
    state.directories = LocateDataDirectories();
    // The data files are addressed by full path; the current directory only matters to the programs started
    // from here, so failing to enter it changes nothing the user must hear of.
    if (const Result<void> entered = EnterDataDirectory(state.directories); !entered) {
        Log::Failure("app", "the data directory was not made the current directory", entered.error());
    }
    const std::unique_ptr<MainWindow> mainWindow = StartUp(state);
    // A signal that came while the startup password was asked for has already closed everything.
    return EndRequested() ? EndExitCode() : QApplication::exec();
}
