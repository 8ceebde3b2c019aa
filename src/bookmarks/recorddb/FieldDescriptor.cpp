#include "bookmarks/recorddb/FieldDescriptor.h"

#include "bookmarks/recorddb/FileHeader.h"
#include "bookmarks/recorddb/LittleEndian.h"

#include <cstring>

namespace RecordDb {

namespace {

constexpr std::size_t kNameBytes = 20;
constexpr std::size_t kLongestName = 16;

} // namespace

std::optional<FieldDescriptor> FieldDescriptor::Parse(const unsigned char* bytes, std::int32_t recordSize) {
    const auto* nul = static_cast<const unsigned char*>(std::memchr(bytes, 0, kLongestName + 1));
    if (nul == nullptr) {
        return std::nullopt;
    }
    const std::int32_t type = LittleEndian::I32(bytes + kNameBytes);
    if (type < static_cast<std::int32_t>(FieldType::Byte) || type > static_cast<std::int32_t>(FieldType::Memo)) {
        return std::nullopt;
    }
    FieldDescriptor field;
    field.fieldName.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(nul - bytes));
    field.fieldType = static_cast<FieldType>(type);
    field.fieldOffset = LittleEndian::I32(bytes + kNameBytes + 4);
    field.fieldWidth = LittleEndian::I32(bytes + kNameBytes + 8);
    if (field.fieldType == FieldType::Text && field.fieldWidth <= 0) {
        return std::nullopt;
    }
    // A field must lie wholly inside its record and after the record id; otherwise reading it would run into
    // the next record and writing it could destroy an id.
    if (field.fieldOffset < kRecordIdSize ||
        std::int64_t{field.fieldOffset} + field.StoredSize() > std::int64_t{recordSize}) {
        return std::nullopt;
    }
    return field;
}

std::int64_t FieldDescriptor::StoredSize() const {
    switch (fieldType) {
    case FieldType::Byte:
    case FieldType::Bool:
        return 1;
    case FieldType::Int16:
        return 2;
    case FieldType::Int32:
    case FieldType::Float:
    case FieldType::Subprogram:
    case FieldType::ByteSet:
    case FieldType::Memo:
        return 4;
    case FieldType::Int64:
    case FieldType::Double:
    case FieldType::DateTime:
        return 8;
    case FieldType::Text:
        return fieldWidth;
    }
    return 0;
}

Value FieldDescriptor::EmptyValue() const {
    switch (fieldType) {
    case FieldType::Byte:
        return std::uint8_t{0};
    case FieldType::Int16:
        return std::int16_t{0};
    case FieldType::Int32:
        return std::int32_t{0};
    case FieldType::Int64:
        return std::int64_t{0};
    case FieldType::Float:
        return 0.0f;
    case FieldType::Double:
        return 0.0;
    case FieldType::Bool:
        return false;
    case FieldType::DateTime:
        return DateTime{};
    case FieldType::Subprogram:
        return SubprogramRef{};
    case FieldType::ByteSet:
        return Bytes{};
    case FieldType::Text:
    case FieldType::Memo:
        return std::string();
    }
    return std::string();
}

} // namespace RecordDb
