#include "servers/ClientEnd.h"

#include <algorithm>
#include <array>

namespace {

// FreeRDP's exit statuses: below 128 how the session ended (the quiet ones are the user's or the server's
// ordinary ends: success, disconnect, logoff, idle timeout, replaced, disconnected by the user or another),
// from 128 on the client's failures to connect.
constexpr std::array kQuiet{0, 1, 2, 3, 5, 11, 12};
constexpr std::array kWrongCredentials{132, 134, 135, 148, 149, 151, 152, 154, 155, 156, 157, 158, 159};
constexpr std::array kUnreachable{131, 139, 140, 141};
// FreeRDP 2 ends so on a refused port, on a host that closes at once, and on a server that hangs up on a
// wrong password during the network-level login.
constexpr int kTransportFailed = 147;
constexpr int kTlsFailed = 143;
constexpr std::array kStartFailed{128, 129, 136, 138};

template <std::size_t N> bool In(const std::array<int, N>& codes, int code) {
    return std::find(codes.begin(), codes.end(), code) != codes.end();
}

} // namespace

ClientFailure ClientFailureOf(const ProcessEnd& end, std::chrono::steady_clock::duration ran) {
    if (ran >= kClientStartWindow) {
        return ClientFailure::None;
    }
    if (!end.exited) {
        // Killed by a signal: the user closing a hung client looks the same as a crash, so only a crash is said.
        // Signal 0 stands for an end nobody could learn.
        constexpr std::array kUserSignals{0, 1, 2, 9, 15};
        return In(kUserSignals, end.code) ? ClientFailure::None : ClientFailure::Other;
    }
    if (In(kQuiet, end.code)) {
        return ClientFailure::None;
    }
    if (In(kWrongCredentials, end.code)) {
        return ClientFailure::WrongCredentials;
    }
    if (In(kUnreachable, end.code)) {
        return ClientFailure::Unreachable;
    }
    if (end.code == kTransportFailed) {
        return ClientFailure::Dropped;
    }
    // With the first certificate trusted on sight, the TLS step fails when the server shows another one.
    if (end.code == kTlsFailed) {
        return ClientFailure::CertificateChanged;
    }
    if (In(kStartFailed, end.code)) {
        return ClientFailure::StartFailed;
    }
    return ClientFailure::Other;
}
