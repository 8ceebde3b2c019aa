#pragma once

#include "runtime/Bytes.h"

#include <optional>
#include <string>
#include <string_view>

// Data protection bound to the user: bytes sealed here open only with the same per-user key, which lives in
// a file of mode 0600 in the per-user data directory and is made on first use.

// Where the per-user key lives; empty when there is no safe per-user directory to keep it in.
std::string DataProtectionKeyPath();

// Seals `data` together with its `description` (at most 255 bytes); nullopt when no key can be had.
std::optional<Bytes> ProtectData(const Bytes& data, std::string_view description,
                                 const std::string& keyPath = DataProtectionKeyPath());

// Opens what ProtectData sealed and gives its description; nullopt for another key, a missing key or
// altered bytes. Never makes a key.
std::optional<Bytes> UnprotectData(const Bytes& sealed, std::string* description = nullptr,
                                   const std::string& keyPath = DataProtectionKeyPath());
