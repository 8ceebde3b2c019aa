#include "bookmarks/recorddb/Value.h"

namespace RecordDb {

bool IsNumeric(const Value& value) {
    return std::holds_alternative<std::uint8_t>(value) || std::holds_alternative<std::int16_t>(value) ||
           std::holds_alternative<std::int32_t>(value) || std::holds_alternative<std::int64_t>(value) ||
           std::holds_alternative<float>(value) || std::holds_alternative<double>(value);
}

} // namespace RecordDb
