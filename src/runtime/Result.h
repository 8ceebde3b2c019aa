#pragma once

#include <optional>
#include <string>
#include <system_error>
#include <utility>
#include <variant>

// Why a call failed: the coded reason, a system call's error number (errno on Linux, GetLastError() on Windows)
// in std::system_category() or one of std::errc for a refusal of the program's own, and what was being done, a
// few words such as "reading /home/wang/ms.ini".
struct Failure {
    std::error_code code;
    std::string doing;

    // What was being done and the system's reason, for a log line or a message: "reading ...: No such file".
    [[nodiscard]] std::string Message() const;
};

// What a function returning a Result gives back on failure: `return Fail(std::errc::file_too_large, "...")`.
struct Unexpected {
    Failure failure;
};
// A cleared code, which a failed call should never leave, still makes a failure: an unknown I/O error rather
// than a success nobody had.
[[nodiscard]] Unexpected Fail(std::error_code code, std::string doing = {});
[[nodiscard]] Unexpected Fail(std::errc code, std::string doing = {});
// A failure for the system's error number `code`.
[[nodiscard]] Unexpected FailSystem(int code, std::string doing = {});

// A value, or the Failure that kept it from being made. Shaped like C++23's std::expected, which GCC 12 offers
// only to C++23 and Debian 12 packages no stand-in for: it tests as a bool, and value() or * give the value.
template <class T> class [[nodiscard]] Result {
public:
    Result(T value)
        : state_(std::in_place_index<0>, std::move(value)) {}
    Result(Unexpected failed)
        : state_(std::in_place_index<1>, std::move(failed.failure)) {}

    [[nodiscard]] bool has_value() const noexcept { return state_.index() == 0; }
    explicit operator bool() const noexcept { return has_value(); }

    // The value; only when there is one.
    [[nodiscard]] T& value() & { return std::get<0>(state_); }
    [[nodiscard]] const T& value() const& { return std::get<0>(state_); }
    [[nodiscard]] T&& value() && { return std::get<0>(std::move(state_)); }
    [[nodiscard]] T& operator*() & { return value(); }
    [[nodiscard]] const T& operator*() const& { return value(); }
    [[nodiscard]] T* operator->() { return &value(); }
    [[nodiscard]] const T* operator->() const { return &value(); }
    [[nodiscard]] T value_or(T fallback) const& { return has_value() ? value() : std::move(fallback); }

    // The failure; only when there is no value.
    [[nodiscard]] const Failure& error() const { return std::get<1>(state_); }
    // Why it failed; a cleared code after a success.
    [[nodiscard]] std::error_code Reason() const { return has_value() ? std::error_code() : error().code; }

    // Says what was being done, unless the failure says so already; nothing after a success.
    Result& Doing(std::string doing) & {
        if (!has_value() && error().doing.empty()) {
            std::get<1>(state_).doing = std::move(doing);
        }
        return *this;
    }
    Result&& Doing(std::string doing) && { return std::move(Doing(std::move(doing))); }

private:
    std::variant<T, Failure> state_;
};

// Success without a value, or the Failure.
template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Unexpected failed)
        : failure_(std::move(failed.failure)) {}

    [[nodiscard]] bool has_value() const noexcept { return !failure_; }
    explicit operator bool() const noexcept { return has_value(); }

    [[nodiscard]] const Failure& error() const { return *failure_; }
    [[nodiscard]] std::error_code Reason() const { return failure_ ? failure_->code : std::error_code(); }

    Result& Doing(std::string doing) & {
        if (failure_ && failure_->doing.empty()) {
            failure_->doing = std::move(doing);
        }
        return *this;
    }
    Result&& Doing(std::string doing) && { return std::move(Doing(std::move(doing))); }

private:
    std::optional<Failure> failure_;
};

// The failure of `result`, to be handed on from a function whose Result holds another type.
template <class T> [[nodiscard]] Unexpected FailureOf(const Result<T>& result) {
    return Unexpected{result.error()};
}
