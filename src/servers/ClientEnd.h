#pragma once

#include "runtime/DetachedProcess.h"

#include <chrono>

// Why a remote desktop client ended without a session, as the user is told it.
enum class ClientFailure {
    None,               // it ran a session, or ended as the user asked
    WrongCredentials,   // the server refused the account or the password
    Unreachable,        // no connection to the host and port
    Dropped,            // no connection, or one the server ended during the login: FreeRDP says the same of both
    LoginDropped,       // Dropped, and the server still takes connections: most likely it refused the login
    CertificateChanged, // the server showed another certificate than the one trusted before
    StartFailed,        // the client itself could not start
    Other,
};

// A client that ran longer than this had its session; how it ended then is the user's business.
inline constexpr std::chrono::seconds kClientStartWindow{60};

// The failure FreeRDP's exit status names, for a client that ran for `ran`. Dropped asks the caller to learn
// whether the server takes connections, to tell a refused login from a server that is not there.
ClientFailure ClientFailureOf(const ProcessEnd& end, std::chrono::steady_clock::duration ran);
