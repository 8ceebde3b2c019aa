#pragma once

#include <string>
#include <string_view>

// Text at the edge of the Windows calls. Paths are UTF-8 inside the program, as file names are on Linux, so
// any name the system can hold survives the round trip; program text (GBK) goes through code page 936.
namespace Win32 {

[[nodiscard]] std::wstring WideFromUtf8(std::string_view utf8);
[[nodiscard]] std::string Utf8FromWide(std::wstring_view wide);

// GBK text for a wide-character call, and back; a character the other side lacks becomes a stand-in.
[[nodiscard]] std::wstring WideFromGbk(std::string_view gbk);
[[nodiscard]] std::string GbkFromWide(std::wstring_view wide);

} // namespace Win32
