#pragma once

#include <cstdint>
#include <string>
#include <string_view>

enum class NewFileResult { Written, Exists, Failed };

// Creates `path` for the user alone and writes `data` to it, flushed to disk. A name that is taken, even by a
// dangling link, gives Exists and is left alone, so a shared directory cannot redirect the write elsewhere.
NewFileResult WriteNewFile(const std::string& path, std::string_view data);

// 64 bits from the system's random generator; false when it gave none.
[[nodiscard]] bool RandomBits(std::uint64_t& number);

// Creates a file for the user alone under an unpredictable name in `directory`: `nameOf` turns a random
// number into the name. Nothing already there is opened or followed, and a taken name is never reused. The
// full path, or empty when no file could be created and written.
std::string WriteUniqueFile(const std::string& directory, std::string (*nameOf)(std::uint64_t), std::string_view data);
