#pragma once

#include "runtime/Result.h"

#include <windows.h>

// The failure GetLastError() tells of; read it at once after the call that failed, before anything else can
// change it.
[[nodiscard]] inline Unexpected LastError() {
    return FailSystem(static_cast<int>(::GetLastError()));
}

// Success when the call `succeeded`, else the failure GetLastError() tells of.
[[nodiscard]] inline Result<void> OutcomeOf(bool succeeded) {
    return succeeded ? Result<void>() : Result<void>(LastError());
}
