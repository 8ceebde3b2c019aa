#pragma once

#include "runtime/Result.h"

#include <string>
#include <vector>

// Opening an address with the desktop's default handler, the counterpart of the shell's "open" verb.

// The arguments xdg-open gets for `address` (GBK): the address in UTF-8 as its only operand. xdg-open takes
// every argument that begins with "-" for an option and knows no "--", so such an address, which can only be a
// relative file name, goes as "./" followed by it, naming the same file.
std::vector<std::string> ShellOpenArguments(const std::string& address);

// Starts xdg-open for `address` without a shell and without waiting for it; a failure when it could not be
// started. The handler is reaped in the background when it ends.
Result<void> ShellOpen(const std::string& address);
