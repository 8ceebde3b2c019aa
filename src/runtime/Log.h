#pragma once

#include "runtime/Result.h"

#include <functional>
#include <string_view>
#include <system_error>

// What failed, for a user's report: off unless the windows layer installs a writer, which it does only when the
// logging rules turn the program's category on. Never a password, a connection file's content or a stored value.
namespace Log {

// Writes one line: where (the folder or service, such as "settings"), then what failed.
using Writer = std::function<void(std::string_view where, std::string_view what)>;
void SetWriter(Writer writer);

// Whether anything is written, so a caller can skip building a line nobody reads.
[[nodiscard]] bool Enabled();

void Failure(std::string_view where, std::string_view what);
// The same with the system's reason: its message and its number.
void Failure(std::string_view where, std::string_view what, const std::error_code& reason);
// The same with a result's failure: what was being done, and the system's reason.
void Failure(std::string_view where, std::string_view what, const ::Failure& failure);

} // namespace Log
