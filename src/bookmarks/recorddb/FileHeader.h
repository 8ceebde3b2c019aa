#pragma once

#include <cstdint>
#include <string_view>

namespace RecordDb {

// The file's fixed layout: a 112-byte header, the field count, then 72-byte field descriptors and the records.
inline constexpr std::int64_t kHeaderSize = 112;
inline constexpr std::int64_t kFieldCountOffset = 112;
inline constexpr std::int64_t kDescriptorsOffset = 116;
inline constexpr std::int64_t kDescriptorSize = 72;
inline constexpr std::int64_t kRecordCountOffset = 16;
inline constexpr std::int64_t kRecordIdSize = 4;
inline constexpr std::int32_t kCurrentVersion = 0x00010000;
inline constexpr std::string_view kPlainMagic = "WEDB";
inline constexpr std::string_view kPasswordMagic = "WCDB";

// The header fields the engine reads; the reserved bytes are left as the file has them.
struct FileHeader {
    char magic[4] = {};
    std::int32_t version = 0;
    double createdAt = 0;
    std::int32_t recordCount = 0;
    std::int32_t nextRecordId = 0;
    std::int32_t recordSize = 0;

    static FileHeader Parse(const unsigned char* bytes);
    std::string_view Magic() const { return {magic, sizeof magic}; }
};

// Where the records start for a table of `fieldCount` fields.
inline std::int64_t DataStart(std::int32_t fieldCount) {
    return kDescriptorsOffset + kDescriptorSize * fieldCount;
}

} // namespace RecordDb
