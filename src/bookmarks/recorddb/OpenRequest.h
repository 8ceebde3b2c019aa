#pragma once

#include "bookmarks/recorddb/ShareMode.h"

#include <optional>
#include <string>
#include <vector>

namespace RecordDb {

// The arguments of one Open.
struct OpenRequest {
    std::string fileName;
    std::string alias;
    bool readOnly = false;
    ShareMode shareMode = ShareMode::DenyNone;
    std::optional<std::string> password;
    std::vector<std::string> indexFiles;
};

} // namespace RecordDb
