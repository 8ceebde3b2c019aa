#include "runtime/GbkDecoder.h"

#include "runtime/Gbk.h"

#include <utility>

namespace Gbk {

namespace {

bool IsLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

bool IsTrailByte(unsigned char byte) {
    return byte >= 0x40 && byte <= 0xFE && byte != 0x7F;
}

} // namespace

std::string StreamDecoder::Decode(std::string_view piece) {
    std::string bytes = std::exchange(pending_, std::string());
    bytes.append(piece);
    // Step over the characters as the code page reads them, so that a bad byte never moves the cut off a boundary.
    std::size_t whole = 0;
    while (whole < bytes.size()) {
        const auto byte = static_cast<unsigned char>(bytes[whole]);
        if (!IsLeadByte(byte)) {
            ++whole;
        } else if (whole + 1 == bytes.size()) {
            break;
        } else {
            whole += IsTrailByte(static_cast<unsigned char>(bytes[whole + 1])) ? 2 : 1;
        }
    }
    pending_ = bytes.substr(whole);
    bytes.resize(whole);
    return ToUtf8(bytes);
}

std::string StreamDecoder::Finish() {
    return ToUtf8(std::exchange(pending_, std::string()));
}

} // namespace Gbk
