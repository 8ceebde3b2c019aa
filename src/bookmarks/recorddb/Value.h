#pragma once

#include "runtime/Bytes.h"

#include <cstdint>
#include <string>
#include <variant>

namespace RecordDb {

// A date-time: days since 1899-12-30, the fraction being the time of day.
struct DateTime {
    double days = 0;
    bool operator==(const DateTime&) const = default;
};

// The stored 4 bytes of a subprogram reference.
struct SubprogramRef {
    std::int32_t value = 0;
    bool operator==(const SubprogramRef&) const = default;
};

// A field's value as ReadField gives it and WriteField takes it, one alternative per kind of field: byte,
// 16/32/64-bit integer, float, double, boolean, date-time, subprogram reference, text (GBK) and byte set.
// Text stands for memo fields too.
using Value = std::variant<std::uint8_t, std::int16_t, std::int32_t, std::int64_t, float, double, bool, DateTime,
                           SubprogramRef, std::string, Bytes>;

// Byte, the integers, float and double: the kinds that convert into one another on write.
bool IsNumeric(const Value& value);

} // namespace RecordDb
