#pragma once

#include <csignal>

// In a forked child before its exec: every signal back to its default action and none blocked, so the program
// started does not inherit this program's handlers or mask. Only async-signal-safe calls, as the child of a
// process with other threads may make no others.
inline void RestoreDefaultSignals() {
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    for (int signal = 1; signal < NSIG; ++signal) {
        ::sigaction(signal, &standard, nullptr);
    }
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
}
