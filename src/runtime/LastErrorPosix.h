#pragma once

#include "runtime/Outcome.h"

#include <cerrno>

// The failure errno tells of; read it at once after the call that failed, before anything else can change it.
[[nodiscard]] inline Outcome LastError() {
    return Outcome::SystemFailure(errno);
}

// Success when the call `succeeded`, else the failure errno tells of.
[[nodiscard]] inline Outcome OutcomeOf(bool succeeded) {
    return succeeded ? Outcome() : LastError();
}
