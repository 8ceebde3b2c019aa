#pragma once

#include "bookmarks/recorddb/FieldDescriptor.h"
#include "bookmarks/recorddb/Value.h"

#include <cstddef>
#include <string>

// Turning a field's stored bytes into a value and back.
namespace RecordDb::FieldCodec {

// Room for the stored bytes of any field type but text.
inline constexpr std::size_t kFixedBytes = 8;

// The value of a field of a fixed-size type from its stored bytes; a date-time is held within its valid range.
Value DecodeFixed(FieldType type, const unsigned char* bytes);

// The text in a text field's bytes: up to its first NUL, or all of them.
std::string DecodeText(const char* bytes, std::size_t width);

// Encodes `value` for a field of a fixed-size type into `out` (kFixedBytes of room), converting between the
// numeric kinds. kErrTypeMismatch when the value's kind does not suit the field, else kOk.
int EncodeFixed(FieldType type, const Value& value, unsigned char* out);

} // namespace RecordDb::FieldCodec
