#pragma once

#include <cstdint>
#include <cstring>

// Fixed-width little-endian integers in file buffers.
namespace RecordDb::LittleEndian {

inline std::uint32_t U32(const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
}
inline std::int32_t I32(const unsigned char* p) {
    return static_cast<std::int32_t>(U32(p));
}
inline std::uint64_t U64(const unsigned char* p) {
    return U32(p) | std::uint64_t{U32(p + 4)} << 32;
}

inline void PutU32(unsigned char* p, std::uint32_t v) {
    p[0] = static_cast<unsigned char>(v), p[1] = static_cast<unsigned char>(v >> 8),
    p[2] = static_cast<unsigned char>(v >> 16), p[3] = static_cast<unsigned char>(v >> 24);
}
inline void PutI32(unsigned char* p, std::int32_t v) {
    PutU32(p, static_cast<std::uint32_t>(v));
}
inline void PutU64(unsigned char* p, std::uint64_t v) {
    PutU32(p, static_cast<std::uint32_t>(v)), PutU32(p + 4, static_cast<std::uint32_t>(v >> 32));
}

} // namespace RecordDb::LittleEndian
