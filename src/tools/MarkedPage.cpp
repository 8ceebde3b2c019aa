#include "tools/MarkedPage.h"

#include "runtime/Gbk.h"

#include <string_view>

MarkedPage::MarkedPage(std::string_view text)
    : text_(text) {}

bool MarkedPage::StartsCharacter(std::size_t pos, std::size_t boundary) const {
    // A byte below 0x80 always ends a character, whether it stands alone or closes a pair, so characters start
    // right after it; from there the bytes of 0x80 or more before `pos` pair up, and `pos` starts a character
    // when there is an even number of them.
    std::size_t high = 0;
    while (pos - high > boundary && static_cast<unsigned char>(text_[pos - high - 1]) >= 0x80) {
        ++high;
    }
    return high % 2 == 0;
}

std::size_t MarkedPage::Find(std::string_view pattern, std::size_t from, std::size_t to) const {
    if (to > text_.size()) {
        to = text_.size();
    }
    if (pattern.empty() || from > to || to - from < pattern.size()) {
        return Gbk::npos;
    }
    const char* begin = text_.data();
    // A known character start at or before the next hit; looking back never passes it, so a page crafted to
    // hit on every second byte still costs one pass.
    std::size_t known = from;
    for (std::size_t at = from; to - at >= pattern.size();) {
        const std::size_t pos = std::string_view(begin, to).find(pattern, at);
        if (pos == std::string_view::npos) {
            return Gbk::npos;
        }
        if (StartsCharacter(pos, known)) {
            return pos;
        }
        known = pos + 1; // the hit is a second byte, so a character starts right after it
        at = pos + 1;
    }
    return Gbk::npos;
}

std::string MarkedPage::Extract(std::string_view open, std::string_view close) const {
    const std::size_t anyClose = Find(close, 0, text_.size());
    if (anyClose == Gbk::npos) {
        return "";
    }
    const std::size_t opening = Find(open, 0, text_.size());
    if (opening == Gbk::npos) {
        return "";
    }
    const std::size_t from = opening + open.size();
    std::size_t to = Find(open, from, text_.size());
    if (to == Gbk::npos) {
        to = text_.size();
    }
    if (to <= from) {
        return "";
    }
    // The first close of the whole page is often the one inside the segment; search again only if not.
    std::size_t cut = anyClose;
    if (cut < from) {
        cut = Find(close, from, to);
    } else if (cut + close.size() > to) {
        cut = Gbk::npos;
    }
    return std::string(text_.substr(from, (cut == Gbk::npos ? to : cut) - from));
}

std::string ExtractBetweenMarkers(std::string_view source, std::string_view open, std::string_view close) {
    return MarkedPage(source).Extract(open, close);
}
