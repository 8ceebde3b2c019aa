#pragma once

#include "runtime/Bytes.h"

#include <string_view>

// The RC4 stream transform; the same call enciphers and deciphers. An empty key leaves the state
// unscheduled (the identity permutation), as the settings file has always been read.
[[nodiscard]] Bytes Rc4Crypt(const Bytes& data, std::string_view key);
