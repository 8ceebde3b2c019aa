#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// GBK (code page 936) text helpers. Program text is GBK bytes in std::string; every search, split and
// replace steps over two-byte characters, so a match never starts on the second byte of a character.
namespace Gbk {

inline constexpr std::size_t npos = std::string_view::npos;

// Length in bytes of the character that starts at `pos`: 2 for a lead byte (0x80 or more) that has a
// byte after it, else 1.
[[nodiscard]] std::size_t CharLength(std::string_view text, std::size_t pos);

// Position of the first `pattern` that starts on a character boundary at or after `from` (which must itself
// be a boundary), or npos. An empty pattern is found at `from`.
[[nodiscard]] std::size_t Find(std::string_view text, std::string_view pattern, std::size_t from = 0);

[[nodiscard]] bool Contains(std::string_view text, std::string_view pattern);

// Pieces between separators, as views into `text`. An empty piece between two separators or before a leading
// one counts; the empty remainder after a trailing separator (or of an empty text) does not.
[[nodiscard]] std::vector<std::string_view> Split(std::string_view text, std::string_view separator);

// The same pieces without allocating: stores the first `pieces.size()` of them and returns how many there are.
[[nodiscard]] std::size_t SplitInto(std::string_view text, std::string_view separator,
                                    std::span<std::string_view> pieces);

// Every occurrence of `from` replaced by `to`, scanning left to right on character boundaries.
[[nodiscard]] std::string Replace(std::string_view text, std::string_view from, std::string_view to);

// Byte-exact comparison except that ASCII letters match in either case; two-byte characters compare exactly.
[[nodiscard]] bool EqualsIgnoreCase(std::string_view a, std::string_view b);

// Strict conversions (iconv on Linux, code page 936 on Windows): nullopt when any character cannot be represented or
// the input is not valid in its encoding. To GBK, "€" counts as unrepresentable: its one-byte code 0x80 would be taken
// for the first byte of a two-byte character.
[[nodiscard]] std::optional<std::string> TryFromUtf8(std::string_view utf8);
[[nodiscard]] std::optional<std::string> TryToUtf8(std::string_view gbk);

// Lenient conversions for constants and display: an unconvertible character becomes "?" (to GBK) or
// U+FFFD (to UTF-8) instead of failing.
[[nodiscard]] std::string FromUtf8(std::string_view utf8);
[[nodiscard]] std::string ToUtf8(std::string_view gbk);

// Other tools' files come in Unicode: UTF-16LE bytes (after their byte-order mark) as UTF-8, nullopt for an odd
// length, a lone surrogate or a zero character; and whether a text is well-formed UTF-8.
[[nodiscard]] std::optional<std::string> Utf8FromUtf16Le(std::string_view bytes);
[[nodiscard]] bool IsUtf8(std::string_view text);

// UTF-16 the way the platform's code page 936 conversion gives it, without a terminator: a byte it cannot map
// becomes a stand-in character rather than ending the text.
[[nodiscard]] std::u16string ToUtf16(std::string_view gbk);

} // namespace Gbk
