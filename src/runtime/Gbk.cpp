#include "runtime/Gbk.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

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

namespace {

// One converter per direction and thread: opening an iconv descriptor loads a module, too slow to repeat.
class Converter {
public:
    Converter(const char* to, const char* from)
        : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) {
            iconv_close(cd_);
        }
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `input`; an invalid or unconvertible sequence either fails the whole conversion (when
    // `replacement` is empty) or is skipped and replaced, one input character at a time.
    std::optional<std::string> Convert(std::string_view input, std::string_view replacement,
                                       std::size_t badSequenceLength) {
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            return std::nullopt;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string output;
        char buffer[1024];
        char* in = const_cast<char*>(input.data());
        std::size_t inLeft = input.size();
        while (inLeft > 0) {
            char* out = buffer;
            std::size_t outLeft = sizeof buffer;
            const std::size_t result = iconv(cd_, &in, &inLeft, &out, &outLeft);
            output.append(buffer, static_cast<std::size_t>(out - buffer));
            if (result != static_cast<std::size_t>(-1)) {
                continue;
            }
            if (errno == E2BIG) {
                continue;
            }
            if (replacement.empty()) {
                return std::nullopt;
            }
            // EILSEQ or a truncated sequence at the end (EINVAL): replace and step past it.
            const std::size_t skip = std::min(inLeft, badSequenceLength == 0 ? SequenceLength(in) : badSequenceLength);
            output.append(replacement);
            in += skip;
            inLeft -= skip;
        }
        return output;
    }

private:
    // Length of the UTF-8 sequence led by *p, so a bad character is replaced once, not byte by byte.
    static std::size_t SequenceLength(const char* p) {
        const auto c = static_cast<unsigned char>(*p);
        return c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
    }

    iconv_t cd_;
};

Converter& ToGbk() {
    thread_local Converter converter("GBK", "UTF-8");
    return converter;
}

Converter& FromGbk() {
    thread_local Converter converter("UTF-8", "GBK");
    return converter;
}

} // namespace

std::optional<std::string> TryFromUtf8(std::string_view utf8) {
    std::optional<std::string> gbk = ToGbk().Convert(utf8, {}, 0);
    // "€" is the one-byte code 0x80, which the character stepping above reads as a lead byte: stored, it
    // would swallow the separator after it.
    for (std::size_t pos = 0; gbk && pos < gbk->size(); pos += CharLength(*gbk, pos)) {
        if (static_cast<unsigned char>((*gbk)[pos]) == 0x80) {
            return std::nullopt;
        }
    }
    return gbk;
}

std::optional<std::string> TryToUtf8(std::string_view gbk) {
    return FromGbk().Convert(gbk, {}, 1);
}

std::string FromUtf8(std::string_view utf8) {
    return ToGbk().Convert(utf8, "?", 0).value_or(std::string());
}

std::string ToUtf8(std::string_view gbk) {
    // A bad GBK byte is replaced alone, so the byte after it starts afresh.
    return FromGbk().Convert(gbk, "\xEF\xBF\xBD", 1).value_or(std::string());
}

} // namespace Gbk
