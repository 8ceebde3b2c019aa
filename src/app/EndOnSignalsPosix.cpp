#include "app/EndOnSignals.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The handler may only write to a descriptor; the event loop reads the other end, where anything may be done.
int signalPipe[2] = {-1, -1};
int endSignal = 0;
// Until an event loop has run, nothing would read the pipe, and nothing has been opened that a close would save:
// a signal then ends the program at once.
volatile std::sig_atomic_t loopRan = 0;

extern "C" void OnEndSignal(int signal) {
    if (loopRan == 0) {
        ::_exit(128 + signal);
    }
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t ignored = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

void EndNow() {
    unsigned char byte = 0;
    if (::read(signalPipe[0], &byte, 1) != 1 || endSignal != 0) {
        return;
    }
    endSignal = byte;
    QApplication::closeAllWindows();
    QCoreApplication::exit(EndExitCode());
}

} // namespace

void EndOnSignals() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, &EndNow);
    QTimer::singleShot(0, notifier, [] { loopRan = 1; });
    struct sigaction action {};
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        ::sigaction(signal, &action, nullptr);
    }
}

bool EndRequested() {
    return endSignal != 0;
}

int EndExitCode() {
    return endSignal == 0 ? 0 : 128 + endSignal;
}
