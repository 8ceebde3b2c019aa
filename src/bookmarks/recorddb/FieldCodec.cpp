#include "bookmarks/recorddb/FieldCodec.h"

#include "bookmarks/recorddb/ErrorCodes.h"
#include "bookmarks/recorddb/LittleEndian.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

namespace RecordDb::FieldCodec {

namespace {

constexpr double kLatestDate = 2958465;   // 9999-12-31
constexpr double kEarliestDate = -657434; // 0100-01-01

// Whole-number conversions wrap like a cast between integer widths; a floating value is cut toward zero and
// held within the target's range (NaN gives 0), so no value can make the conversion undefined.
template <typename Int> Int ToInteger(const Value& value) {
    return std::visit(
        [](const auto& v) -> Int {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_floating_point_v<V>) {
                if (std::isnan(v)) {
                    return 0;
                }
                const long double truncated = std::trunc(static_cast<long double>(v));
                if (truncated <= static_cast<long double>(std::numeric_limits<Int>::min())) {
                    return std::numeric_limits<Int>::min();
                }
                if (truncated >= static_cast<long double>(std::numeric_limits<Int>::max())) {
                    return std::numeric_limits<Int>::max();
                }
                return static_cast<Int>(truncated);
            } else if constexpr (std::is_integral_v<V> && !std::is_same_v<V, bool>) {
                return static_cast<Int>(v);
            } else {
                return 0;
            }
        },
        value);
}

double ToDouble(const Value& value) {
    return std::visit(
        [](const auto& v) -> double {
            using V = std::decay_t<decltype(v)>;
            if constexpr (std::is_arithmetic_v<V> && !std::is_same_v<V, bool>) {
                return static_cast<double>(v);
            } else {
                return 0;
            }
        },
        value);
}

float ToFloat(const Value& value) {
    if (const auto* f = std::get_if<float>(&value)) {
        return *f;
    }
    const double d = ToDouble(value);
    if (std::isnan(d)) {
        return std::numeric_limits<float>::quiet_NaN();
    }
    if (std::fabs(d) > std::numeric_limits<float>::max()) {
        return d > 0 ? std::numeric_limits<float>::infinity() : -std::numeric_limits<float>::infinity();
    }
    return static_cast<float>(d);
}

} // namespace

Value DecodeFixed(FieldType type, const unsigned char* bytes) {
    switch (type) {
    case FieldType::Byte:
        return std::uint8_t{bytes[0]};
    case FieldType::Int16:
        return static_cast<std::int16_t>(bytes[0] | bytes[1] << 8);
    case FieldType::Int32:
        return LittleEndian::I32(bytes);
    case FieldType::Int64:
        return static_cast<std::int64_t>(LittleEndian::U64(bytes));
    case FieldType::Float:
        return std::bit_cast<float>(LittleEndian::U32(bytes));
    case FieldType::Double:
        return std::bit_cast<double>(LittleEndian::U64(bytes));
    case FieldType::Bool:
        return bytes[0] != 0;
    case FieldType::DateTime: {
        double days = std::bit_cast<double>(LittleEndian::U64(bytes));
        if (days > kLatestDate) {
            days = kLatestDate;
        } else if (days < kEarliestDate) {
            days = kEarliestDate;
        }
        return DateTime{days};
    }
    case FieldType::Subprogram:
        return SubprogramRef{LittleEndian::I32(bytes)};
    case FieldType::Text:
    case FieldType::Memo:
        return std::string();
    case FieldType::ByteSet:
        return Bytes{};
    }
    return std::string();
}

std::string DecodeText(const char* bytes, std::size_t width) {
    const void* nul = std::memchr(bytes, 0, width);
    return {bytes, nul != nullptr ? static_cast<std::size_t>(static_cast<const char*>(nul) - bytes) : width};
}

int EncodeFixed(FieldType type, const Value& value, unsigned char* out) {
    switch (type) {
    case FieldType::Byte:
    case FieldType::Int16:
    case FieldType::Int32:
    case FieldType::Int64:
    case FieldType::Float:
    case FieldType::Double:
        if (!IsNumeric(value)) {
            return kErrTypeMismatch;
        }
        break;
    case FieldType::Bool:
        if (!std::holds_alternative<bool>(value)) {
            return kErrTypeMismatch;
        }
        out[0] = std::get<bool>(value) ? 1 : 0;
        return kOk;
    case FieldType::DateTime:
        if (!std::holds_alternative<DateTime>(value)) {
            return kErrTypeMismatch;
        }
        LittleEndian::PutU64(out, std::bit_cast<std::uint64_t>(std::get<DateTime>(value).days));
        return kOk;
    case FieldType::Subprogram:
        if (!std::holds_alternative<SubprogramRef>(value)) {
            return kErrTypeMismatch;
        }
        LittleEndian::PutI32(out, std::get<SubprogramRef>(value).value);
        return kOk;
    case FieldType::Text:
    case FieldType::ByteSet:
    case FieldType::Memo:
        return kErrTypeMismatch;
    }
    switch (type) {
    case FieldType::Byte:
        out[0] = ToInteger<std::uint8_t>(value);
        break;
    case FieldType::Int16: {
        const auto v = static_cast<std::uint16_t>(ToInteger<std::int16_t>(value));
        out[0] = static_cast<unsigned char>(v), out[1] = static_cast<unsigned char>(v >> 8);
        break;
    }
    case FieldType::Int32:
        LittleEndian::PutI32(out, ToInteger<std::int32_t>(value));
        break;
    case FieldType::Int64:
        LittleEndian::PutU64(out, static_cast<std::uint64_t>(ToInteger<std::int64_t>(value)));
        break;
    case FieldType::Float:
        LittleEndian::PutU32(out, std::bit_cast<std::uint32_t>(ToFloat(value)));
        break;
    default:
        LittleEndian::PutU64(out, std::bit_cast<std::uint64_t>(ToDouble(value)));
        break;
    }
    return kOk;
}

} // namespace RecordDb::FieldCodec
