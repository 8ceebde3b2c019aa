#pragma once

#include "bookmarks/recorddb/Value.h"

#include <cstdint>
#include <optional>
#include <string>

namespace RecordDb {

enum class FieldType : std::int32_t {
    Byte = 1,
    Int16 = 2,
    Int32 = 3,
    Int64 = 4,
    Float = 5,
    Double = 6,
    Bool = 7,
    DateTime = 8,
    Subprogram = 9,
    Text = 10,
    ByteSet = 11,
    Memo = 12,
};

// One field of the table as its 72-byte descriptor gives it.
struct FieldDescriptor {
    std::string fieldName; // GBK, without its NUL padding
    FieldType fieldType = FieldType::Byte;
    std::int32_t fieldOffset = 0;
    std::int32_t fieldWidth = 0;

    // The descriptor at `bytes`, or nullopt when it is not valid for a record of `recordSize` bytes: a name
    // without its NUL in the first 17 bytes, an unknown type, a text without width, or a field that would
    // overlap the record id or reach past the record's end.
    static std::optional<FieldDescriptor> Parse(const unsigned char* bytes, std::int32_t recordSize);

    // Bytes the field takes in a record.
    std::int64_t StoredSize() const;
    // The value a failed read gives.
    Value EmptyValue() const;
    // Kept in the memo side file, whose layout this engine does not read.
    bool IsMemoBacked() const { return fieldType == FieldType::ByteSet || fieldType == FieldType::Memo; }
};

} // namespace RecordDb
