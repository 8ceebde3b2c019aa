#pragma once

#include <string>
#include <string_view>

namespace Gbk {

// Turns GBK text that arrives in pieces, such as a console program's output read from a pipe, into UTF-8. A piece
// that ends inside a two-byte character keeps that first byte back until the next piece brings the second, so
// the character comes out whole rather than as two stand-ins.
class StreamDecoder {
public:
    // The UTF-8 of every whole character received so far and not yet given; a byte GBK does not know becomes
    // U+FFFD.
    [[nodiscard]] std::string Decode(std::string_view piece);
    // What was kept back, once the stream has ended: a first byte whose second never came becomes U+FFFD.
    [[nodiscard]] std::string Finish();

private:
    std::string pending_;
};

} // namespace Gbk
