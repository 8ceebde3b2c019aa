#include "bookmarks/recorddb/FileHeader.h"

#include "bookmarks/recorddb/LittleEndian.h"

#include <bit>
#include <cstring>

namespace RecordDb {

FileHeader FileHeader::Parse(const unsigned char* bytes) {
    FileHeader header;
    std::memcpy(header.magic, bytes, sizeof header.magic);
    header.version = LittleEndian::I32(bytes + 4);
    header.createdAt = std::bit_cast<double>(LittleEndian::U64(bytes + 8));
    header.recordCount = LittleEndian::I32(bytes + 16);
    header.nextRecordId = LittleEndian::I32(bytes + 20);
    header.recordSize = LittleEndian::I32(bytes + 24);
    return header;
}

} // namespace RecordDb
