#include "TableImage.h"

#include "runtime/Gbk.h"

#include <algorithm>

std::int32_t ReadI32(const Bytes& bytes, std::size_t offset) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= std::uint32_t{bytes.at(offset + i)} << (8 * i);
    }
    return static_cast<std::int32_t>(value);
}

void PutI32(Bytes& bytes, std::size_t offset, std::int32_t value) {
    for (std::size_t i = 0; i < 4; ++i) {
        bytes.at(offset + i) = static_cast<unsigned char>(static_cast<std::uint32_t>(value) >> (8 * i));
    }
}

Bytes TableImage::Record(std::int32_t id) const {
    Bytes record(static_cast<std::size_t>(recordSize), 0);
    PutI32(record, 0, id);
    return record;
}

void TableImage::AddRecord(std::int32_t id) {
    records.push_back(Record(id));
    ++recordCount;
}

Bytes TableImage::Build() const {
    Bytes image(static_cast<std::size_t>(DataStart()), 0);
    std::copy(magic.begin(), magic.end(), image.begin());
    PutI32(image, 4, version);
    PutI32(image, 16, recordCount);
    PutI32(image, 20, nextRecordId);
    PutI32(image, 24, recordSize);
    PutI32(image, 112, fieldCount >= 0 ? fieldCount : static_cast<std::int32_t>(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::size_t at = 116 + 72 * i;
        std::copy_n(fields[i].name.begin(), std::min<std::size_t>(fields[i].name.size(), 20),
                    image.begin() + static_cast<std::ptrdiff_t>(at));
        PutI32(image, at + 20, fields[i].type);
        PutI32(image, at + 24, fields[i].offset);
        PutI32(image, at + 28, fields[i].width);
    }
    for (const Bytes& record : records) {
        image.insert(image.end(), record.begin(), record.end());
    }
    return image;
}

TableImage BookmarkTable() {
    TableImage table;
    table.recordSize = 1016;
    table.nextRecordId = 1;
    table.fields = {{Gbk::FromUtf8("名称"), 10, 4, 500}, {Gbk::FromUtf8("网址"), 10, 504, 512}};
    return table;
}

TableImage NumberedTable(std::int32_t recordSize, int count) {
    TableImage table;
    table.recordSize = recordSize;
    table.fields = {{"B", 1, 4, 0}};
    for (int id = 1; id <= count; ++id) {
        table.AddRecord(id);
        std::fill(table.records.back().begin() + 4, table.records.back().end(), static_cast<unsigned char>(id * 7));
    }
    table.nextRecordId = count + 10;
    return table;
}
