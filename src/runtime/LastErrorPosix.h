#pragma once

#include "runtime/Result.h"

#include <cerrno>

// The failure errno tells of; read it at once after the call that failed, before anything else can change it.
[[nodiscard]] inline Unexpected LastError() {
    return FailSystem(errno);
}

// Success when the call `succeeded`, else the failure errno tells of.
[[nodiscard]] inline Result<void> OutcomeOf(bool succeeded) {
    return succeeded ? Result<void>() : Result<void>(LastError());
}
