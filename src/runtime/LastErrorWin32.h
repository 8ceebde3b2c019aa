#pragma once

#include "runtime/Outcome.h"

#include <windows.h>

// The failure GetLastError() tells of; read it at once after the call that failed, before anything else can
// change it.
[[nodiscard]] inline Outcome LastError() {
    return Outcome::SystemFailure(static_cast<int>(::GetLastError()));
}

// Success when the call `succeeded`, else the failure GetLastError() tells of.
[[nodiscard]] inline Outcome OutcomeOf(bool succeeded) {
    return succeeded ? Outcome() : LastError();
}
