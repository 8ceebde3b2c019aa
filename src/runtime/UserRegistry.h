#pragma once

#include "runtime/Result.h"

#include <cstdint>
#include <optional>
#include <string>

// The current user's registry: values kept under a key path and a value name, both compared with ASCII
// letters in either case as the registry does. The values live in one file in the user's config directory.

// That file; empty when there is no per-user config directory.
std::string UserRegistryPath();

// The 32-bit value `name` under `key`; nullopt when there is none (or no store, or a store that cannot be read,
// which the next RegistrySetDword then reports).
std::optional<std::uint32_t> RegistryQueryDword(const std::string& key, const std::string& name,
                                                const std::string& store = UserRegistryPath());

// Creates or replaces the value `name` under `key`; a failure when the store could not be written.
Result<void> RegistrySetDword(const std::string& key, const std::string& name, std::uint32_t value,
                              const std::string& store = UserRegistryPath());
