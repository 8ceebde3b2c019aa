#pragma once

#include <string>
#include <string_view>

// The directory for temporary files, ending in a separator: $TMPDIR when it is an absolute path, else /tmp.
std::string TemporaryDirectory();

enum class NewFileResult { Written, Exists, Failed };

// Creates `path` for the user alone and writes `data` to it, flushed to disk. A name that is taken, even by a
// dangling link, gives Exists and is left alone, so a shared directory cannot redirect the write elsewhere.
NewFileResult WriteNewFile(const std::string& path, std::string_view data);
