#pragma once

#include "runtime/Bytes.h"

#include <string>
#include <sys/types.h>

// The whole file as bytes; a file that is missing, unreadable or empty gives an empty byte set.
Bytes ReadWholeFile(const std::string& path);

// Replaces `path` with `data` so that either the old or the new content survives a crash or a full disk:
// the bytes go to a temporary file in the same directory, which is flushed, given `mode` and renamed over
// the old one. False when anything failed; the old file is then untouched.
bool ReplaceFileAtomically(const std::string& path, const Bytes& data, mode_t mode);
