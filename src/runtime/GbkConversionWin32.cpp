#include "runtime/Gbk.h"

#include <climits>
#include <windows.h>

namespace Gbk {

namespace {

constexpr UINT kGbkCodePage = 936;

// Strict: nullopt for input that is not valid in `codePage`.
std::optional<std::wstring> StrictWide(UINT codePage, std::string_view text) {
    if (text.empty()) {
        return std::wstring();
    }
    if (text.size() > INT_MAX) {
        return std::nullopt;
    }
    const int size = static_cast<int>(text.size());
    const int length = ::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    if (length <= 0) {
        return std::nullopt;
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text.data(), size, wide.data(), length) != length) {
        return std::nullopt;
    }
    return wide;
}

// To GBK. Strict (no `replacement`): nullopt when any character has no GBK code, since the system would
// otherwise put its default character or a look-alike in its place without a word.
std::optional<std::string> WideToGbk(std::wstring_view wide, const char* replacement) {
    if (wide.empty()) {
        return std::string();
    }
    if (wide.size() > INT_MAX) {
        return std::nullopt;
    }
    const int size = static_cast<int>(wide.size());
    const char* defaultChar = replacement != nullptr ? replacement : "?";
    BOOL usedDefault = FALSE;
    const int length =
        ::WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, nullptr, 0, defaultChar, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string gbk(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(kGbkCodePage, WC_NO_BEST_FIT_CHARS, wide.data(), size, gbk.data(), length, defaultChar,
                              &usedDefault) != length ||
        (usedDefault && replacement == nullptr)) {
        return std::nullopt;
    }
    return gbk;
}

std::string Utf8Of(std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int size = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), length, nullptr, nullptr);
    }
    return utf8;
}

// Code page 936 gives "€" the one-byte code 0x80, which the character stepping reads as a lead byte.
bool HoldsEuro(std::string_view gbk) {
    for (std::size_t pos = 0; pos < gbk.size(); pos += CharLength(gbk, pos)) {
        if (static_cast<unsigned char>(gbk[pos]) == 0x80) {
            return true;
        }
    }
    return false;
}

} // namespace

std::optional<std::string> TryFromUtf8(std::string_view utf8) {
    const std::optional<std::wstring> wide = StrictWide(CP_UTF8, utf8);
    if (!wide) {
        return std::nullopt;
    }
    std::optional<std::string> gbk = WideToGbk(*wide, nullptr);
    if (gbk && HoldsEuro(*gbk)) {
        return std::nullopt;
    }
    return gbk;
}

std::optional<std::string> Utf8FromUtf16Le(std::string_view bytes) {
    if (bytes.size() % 2 != 0 || bytes.size() / 2 > INT_MAX) {
        return std::nullopt;
    }
    std::wstring wide(bytes.size() / 2, L'\0');
    for (std::size_t at = 0; at < wide.size(); ++at) {
        wide[at] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 * at]) |
                                        (static_cast<unsigned char>(bytes[2 * at + 1]) << 8));
        if (wide[at] == L'\0') {
            return std::nullopt;
        }
    }
    if (wide.empty()) {
        return std::string();
    }
    const int size = static_cast<int>(wide.size());
    const int length =
        ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    std::string utf8(static_cast<std::size_t>(length), '\0');
    if (::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide.data(), size, utf8.data(), length, nullptr,
                              nullptr) != length) {
        return std::nullopt;
    }
    return utf8;
}

bool IsUtf8(std::string_view text) {
    return StrictWide(CP_UTF8, text).has_value();
}

std::optional<std::string> TryToUtf8(std::string_view gbk) {
    // 0x80 alone is no GBK character, whatever code page 936 makes of it.
    if (HoldsEuro(gbk)) {
        return std::nullopt;
    }
    const std::optional<std::wstring> wide = StrictWide(kGbkCodePage, gbk);
    return wide ? std::optional<std::string>(Utf8Of(*wide)) : std::nullopt;
}

std::string FromUtf8(std::string_view utf8) {
    // Without the strict flag a bad UTF-8 sequence reads as U+FFFD, which GBK lacks and so becomes "?".
    std::wstring wide;
    if (!utf8.empty() && utf8.size() <= INT_MAX) {
        const int size = static_cast<int>(utf8.size());
        const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
        wide.resize(static_cast<std::size_t>(length > 0 ? length : 0));
        if (length > 0) {
            ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), length);
        }
    }
    // A character beyond the first plane is two UTF-16 units but one character, so it becomes one "?".
    std::wstring characters;
    characters.reserve(wide.size());
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const bool pair = wide[i] >= 0xD800 && wide[i] <= 0xDBFF && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 &&
                          wide[i + 1] <= 0xDFFF;
        characters += pair ? L'\xFFFD' : wide[i];
        i += pair ? 1 : 0;
    }
    std::string gbk = WideToGbk(characters, "?").value_or(std::string());
    for (std::size_t pos = 0; pos < gbk.size(); pos += CharLength(gbk, pos)) {
        if (static_cast<unsigned char>(gbk[pos]) == 0x80) {
            gbk[pos] = '?';
        }
    }
    return gbk;
}

std::string ToUtf8(std::string_view gbk) {
    if (const std::optional<std::string> whole = TryToUtf8(gbk)) {
        return *whole;
    }
    // Character by character, so that a bad byte is replaced alone and the byte after it starts afresh.
    std::string utf8;
    for (std::size_t pos = 0; pos < gbk.size();) {
        const std::size_t length = CharLength(gbk, pos);
        if (const std::optional<std::string> one = TryToUtf8(gbk.substr(pos, length))) {
            utf8 += *one;
            pos += length;
        } else {
            utf8 += "\xEF\xBF\xBD";
            ++pos;
        }
    }
    return utf8;
}

std::u16string ToUtf16(std::string_view gbk) {
    // As the connection file's password is converted: no flags, the whole text with its terminator, first to
    // learn the length and then into the buffer.
    const std::string terminated(gbk);
    const int length = ::MultiByteToWideChar(kGbkCodePage, 0, terminated.c_str(), -1, nullptr, 0);
    if (length <= 1) {
        return {};
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(kGbkCodePage, 0, terminated.c_str(), -1, wide.data(), length);
    wide.resize(static_cast<std::size_t>(length - 1));
    return std::u16string(wide.begin(), wide.end());
}

} // namespace Gbk
