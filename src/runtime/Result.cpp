#include "runtime/Result.h"

std::string Failure::Message() const {
    const std::string reason = code.message();
    return doing.empty() ? reason : doing + ": " + reason;
}

Unexpected Fail(std::error_code code, std::string doing) {
    return Unexpected{Failure{code ? code : std::make_error_code(std::errc::io_error), std::move(doing)}};
}

Unexpected Fail(std::errc code, std::string doing) {
    return Fail(std::make_error_code(code), std::move(doing));
}

Unexpected FailSystem(int code, std::string doing) {
    return Fail(std::error_code(code, std::system_category()), std::move(doing));
}
