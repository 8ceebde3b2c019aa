#pragma once

#include "runtime/Bytes.h"

#include <cstdint>
#include <string>
#include <vector>

// Builds table files byte by byte, so a test can make any header or descriptor it needs.
struct TableImage {
    struct Field {
        std::string name; // GBK, stored in 20 bytes as given (no NUL added when it is 20 bytes long)
        std::int32_t type;
        std::int32_t offset;
        std::int32_t width;
    };

    std::string magic = "WEDB";
    std::int32_t version = 0x00010000;
    std::int32_t recordCount = 0;
    std::int32_t nextRecordId = 1;
    std::int32_t recordSize = 0;
    std::int32_t fieldCount = -1; // -1: the number of fields
    std::vector<Field> fields;
    std::vector<Bytes> records;

    std::int64_t DataStart() const { return 116 + 72 * static_cast<std::int64_t>(fields.size()); }
    // A zeroed record with `id` first.
    Bytes Record(std::int32_t id) const;
    // Adds a record with `id` and counts it.
    void AddRecord(std::int32_t id);
    Bytes Build() const;
};

// Little-endian access to file bytes in tests.
std::int32_t ReadI32(const Bytes& bytes, std::size_t offset);
void PutI32(Bytes& bytes, std::size_t offset, std::int32_t value);

// `count` records of `recordSize` bytes with ids 1..count, every byte after the id derived from it, so that a
// record moved in part, or to the wrong place, cannot pass for whole; one byte field "B" at offset 4.
TableImage NumberedTable(std::int32_t recordSize, int count);

// A table like the bookmark file: "名称" (text 500 at 4) and "网址" (text 512 at 504), 1016-byte records.
TableImage BookmarkTable();
