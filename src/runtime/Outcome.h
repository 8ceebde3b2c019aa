#pragma once

#include <system_error>

// What a runtime call that can fail gives back: success, or the reason it failed, which the caller can log or
// test. A system call's reason is its error number (errno on Linux, GetLastError() on Windows) in
// std::system_category(); a refusal of the program's own is one of std::errc. It tests as a bool, so a caller
// writes `if (!ReplaceFileAtomically(...))` as for any call that answers yes or no.
class [[nodiscard]] Outcome {
public:
    // Success.
    Outcome() = default;

    // A failure for `reason`. A cleared code, which a failed call should never leave, still makes a failure: an
    // unknown I/O error rather than a success nobody had.
    static Outcome Failure(std::error_code reason) {
        return Outcome(reason ? reason : std::make_error_code(std::errc::io_error));
    }
    static Outcome Failure(std::errc reason) { return Failure(std::make_error_code(reason)); }
    // A failure for the system's error number `code`.
    static Outcome SystemFailure(int code) { return Failure(std::error_code(code, std::system_category())); }

    explicit operator bool() const noexcept { return !reason_; }
    // Why it failed; a cleared code after a success.
    const std::error_code& Reason() const noexcept { return reason_; }

private:
    explicit Outcome(std::error_code reason)
        : reason_(reason) {}

    std::error_code reason_;
};
