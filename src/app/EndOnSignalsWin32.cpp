#include "app/EndOnSignals.h"

// Windows sends a windowed program no termination signals: a logout reaches it as the session's end, which Qt
// turns into commitDataRequest, and the program saves there.
void EndOnSignals() {}

bool EndRequested() {
    return false;
}

int EndExitCode() {
    return 0;
}
