#include "bookmarks/DefaultBookmarkImage.h"

#include "runtime/Gbk.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr std::size_t kImageSize = 1276;
constexpr std::size_t kNameOffset = 264;
constexpr std::size_t kAddressOffset = 764;

void PutI32(Bytes& image, std::size_t offset, std::int32_t value) {
    for (int i = 0; i < 4; ++i) {
        image[offset + static_cast<std::size_t>(i)] =
            static_cast<unsigned char>(static_cast<std::uint32_t>(value) >> (8 * i));
    }
}

void PutText(Bytes& image, std::size_t offset, const std::string& text) {
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

} // namespace

Bytes DefaultBookmarkImage() {
    Bytes image(kImageSize, 0);
    PutText(image, 0, "WEDB");
    PutI32(image, 4, 0x00010000);
    // Created 2015-06-18 18:53:17.
    const unsigned char createdAt[] = {0x80, 0x7A, 0x1F, 0x2F, 0xB9, 0x97, 0xE4, 0x40};
    std::copy(std::begin(createdAt), std::end(createdAt), image.begin() + 8);
    PutI32(image, 16, 1);    // recordCount
    PutI32(image, 20, 18);   // nextRecordId
    PutI32(image, 24, 1016); // recordSize
    PutI32(image, 112, 2);   // fieldCount

    PutText(image, 116, Gbk::FromUtf8("名称"));
    PutI32(image, 136, 10);
    PutI32(image, 140, 4);
    PutI32(image, 144, 500);
    PutText(image, 188, Gbk::FromUtf8("网址"));
    PutI32(image, 208, 10);
    PutI32(image, 212, 504);
    PutI32(image, 216, 512);

    PutI32(image, 260, 17); // the default record's id
    PutText(image, kNameOffset, Gbk::FromUtf8("百度"));
    PutText(image, kAddressOffset, "https://www.baidu.com/");
    return image;
}
