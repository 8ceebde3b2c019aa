#include "runtime/Gbk.h"

#include <algorithm>

namespace Gbk {

std::size_t CharLength(std::string_view text, std::size_t pos) {
    return static_cast<unsigned char>(text[pos]) >= 0x80 && pos + 1 < text.size() ? 2 : 1;
}

std::size_t Find(std::string_view text, std::string_view pattern, std::size_t from) {
    // Let the library find candidates fast, then walk the characters up to each one to see whether it starts
    // on a boundary; `boundary` only ever moves forward, so the walk costs one pass over the text.
    std::size_t boundary = from;
    for (std::size_t hit = text.find(pattern, from); hit != std::string_view::npos;
         hit = text.find(pattern, boundary)) {
        while (boundary < hit) {
            boundary += CharLength(text, boundary);
        }
        if (boundary == hit) {
            return hit;
        }
    }
    return npos;
}

bool Contains(std::string_view text, std::string_view pattern) {
    return Find(text, pattern) != npos;
}

namespace {

// Calls `piece` with every piece of `text` between separators, in order.
template <typename PieceFunction>
void ForEachPiece(std::string_view text, std::string_view separator, PieceFunction piece) {
    std::size_t start = 0;
    if (!separator.empty()) {
        for (std::size_t hit = Find(text, separator, start); hit != npos; hit = Find(text, separator, start)) {
            piece(text.substr(start, hit - start));
            start = hit + separator.size();
        }
    }
    if (start < text.size()) {
        piece(text.substr(start));
    }
}

} // namespace

std::vector<std::string_view> Split(std::string_view text, std::string_view separator) {
    std::vector<std::string_view> pieces;
    ForEachPiece(text, separator, [&](std::string_view piece) { pieces.push_back(piece); });
    return pieces;
}

std::size_t SplitInto(std::string_view text, std::string_view separator, std::span<std::string_view> pieces) {
    std::size_t count = 0;
    ForEachPiece(text, separator, [&](std::string_view piece) {
        if (count < pieces.size()) {
            pieces[count] = piece;
        }
        ++count;
    });
    return count;
}

std::string Replace(std::string_view text, std::string_view from, std::string_view to) {
    if (from.empty()) {
        return std::string(text);
    }
    std::string result;
    result.reserve(text.size());
    std::size_t start = 0;
    for (std::size_t hit = Find(text, from, start); hit != npos; hit = Find(text, from, start)) {
        result.append(text.substr(start, hit - start)).append(to);
        start = hit + from.size();
    }
    result.append(text.substr(start));
    return result;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; };
    for (std::size_t pos = 0; pos < a.size();) {
        const std::size_t length = CharLength(a, pos);
        if (length == 2) {
            if (a.compare(pos, 2, b.substr(pos, 2)) != 0) {
                return false;
            }
        } else if (lower(static_cast<unsigned char>(a[pos])) != lower(static_cast<unsigned char>(b[pos]))) {
            return false;
        }
        pos += length;
    }
    return true;
}

} // namespace Gbk
