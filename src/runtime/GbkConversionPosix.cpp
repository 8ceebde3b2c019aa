#include "runtime/Gbk.h"

#include "runtime/Bytes.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>

namespace Gbk {

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

    // The descriptor itself, for a conversion of another kind; (iconv_t)-1 when it could not be opened.
    iconv_t Get() const { return cd_; }

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

std::optional<std::string> Utf8FromUtf16Le(std::string_view bytes) {
    if (bytes.size() % 2 != 0) {
        return std::nullopt;
    }
    for (std::size_t at = 0; at < bytes.size(); at += 2) {
        if (bytes[at] == '\0' && bytes[at + 1] == '\0') {
            return std::nullopt;
        }
    }
    thread_local Converter converter("UTF-8", "UTF-16LE");
    return converter.Convert(bytes, {}, 2);
}

bool IsUtf8(std::string_view text) {
    // Decoding to UTF-32 refuses what is no UTF-8: stray continuation bytes, overlong forms and surrogates.
    thread_local Converter converter("UTF-32LE", "UTF-8");
    return converter.Convert(text, {}, 1).has_value();
}

std::string FromUtf8(std::string_view utf8) {
    return ToGbk().Convert(utf8, "?", 0).value_or(std::string());
}

std::string ToUtf8(std::string_view gbk) {
    // A bad GBK byte is replaced alone, so the byte after it starts afresh.
    return FromGbk().Convert(gbk, "\xEF\xBF\xBD", 1).value_or(std::string());
}

std::u16string ToUtf16(std::string_view gbk) {
    std::u16string out;
    const Converter converter("UTF-16LE", "GBK");
    iconv_t cd = converter.Get();
    if (cd == reinterpret_cast<iconv_t>(-1)) {
        return out;
    }
    Bytes bytes(gbk.size() * 2 + 2);
    char* in = const_cast<char*>(gbk.data());
    std::size_t inLeft = gbk.size();
    char* to = reinterpret_cast<char*>(bytes.data());
    std::size_t toLeft = bytes.size();
    while (inLeft > 0) {
        if (::iconv(cd, &in, &inLeft, &to, &toLeft) != static_cast<std::size_t>(-1)) {
            break;
        }
        if (toLeft < 2) {
            break;
        }
        // Skip the byte that would not convert and stand a "?" in for it.
        *to++ = '?';
        *to++ = 0;
        toLeft -= 2;
        ++in;
        --inLeft;
    }
    const std::size_t size = bytes.size() - toLeft;
    for (std::size_t i = 0; i + 1 < size; i += 2) {
        out.push_back(static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8)));
    }
    return out;
}

} // namespace Gbk
