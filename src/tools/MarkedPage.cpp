#include "tools/MarkedPage.h"

#include "runtime/Gbk.h"

#include <cstring>

MarkedPage::MarkedPage(std::string_view text)
    : text_(text) {}

bool MarkedPage::StartsCharacter(std::size_t pos) const {
    if (pos >= walked_) {
        starts_.resize(pos + 2 > text_.size() ? text_.size() + 1 : pos + 2, false);
        while (walked_ <= pos) {
            starts_[walked_] = true;
            walked_ += Gbk::CharLength(text_, walked_);
        }
    }
    return starts_[pos];
}

std::size_t MarkedPage::Find(std::string_view pattern, std::size_t from, std::size_t to) const {
    if (to > text_.size()) {
        to = text_.size();
    }
    if (pattern.empty() || from > to || to - from < pattern.size()) {
        return Gbk::npos;
    }
    const char* begin = text_.data();
    for (std::size_t at = from; to - at >= pattern.size();) {
        const void* hit = memmem(begin + at, to - at, pattern.data(), pattern.size());
        if (hit == nullptr) {
            return Gbk::npos;
        }
        const auto pos = static_cast<std::size_t>(static_cast<const char*>(hit) - begin);
        if (StartsCharacter(pos)) {
            return pos;
        }
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
