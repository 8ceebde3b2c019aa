#pragma once

#include "runtime/Bytes.h"
#include "runtime/Result.h"

#include <string>
#include <sys/types.h>

// Creates `path` holding `data` unless something is already there. The bytes are written to a temporary file
// in the same directory and linked in whole, so another process never sees the new file half-written and an
// existing file is never overwritten. A failure when nothing was created (EEXIST or ERROR_FILE_EXISTS when
// something was there).
Result<void> CreateNewFile(const std::string& path, const Bytes& data, mode_t mode);
