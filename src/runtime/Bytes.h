#pragma once

#include <string>
#include <string_view>
#include <vector>

// An owned, length-counted byte buffer: file contents, cipher input and output, HTTP bodies.
using Bytes = std::vector<unsigned char>;

// The bytes up to, not including, the first zero byte, taken as text.
[[nodiscard]] std::string TextFromBytes(const Bytes& bytes);
// The same text as a view into `bytes`, without a copy.
[[nodiscard]] std::string_view TextViewOf(const Bytes& bytes);

// The text's bytes, without a terminator.
[[nodiscard]] Bytes BytesFromText(std::string_view text);
