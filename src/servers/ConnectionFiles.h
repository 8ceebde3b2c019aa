#pragma once

#include "runtime/Bytes.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>

// The connection files of other remote desktop tools, read as those tools write them: Windows connection files
// (.rdp) and Remmina profiles (.remmina). What a value may be in ms.ini is for the import to decide.

// A file's text, in UTF-8 or, for an "ANSI" connection file, in GBK.
struct DecodedFile {
    std::string text;
    bool utf8 = true;
};

// UTF-16 with its byte-order mark, UTF-8 (with or without one), or the system's code page; nullopt for what is no
// text (a zero byte, a lone surrogate, bytes of no encoding).
[[nodiscard]] std::optional<DecodedFile> DecodeConnectionFile(const Bytes& bytes);

// The values a file gives, still in its own encoding.
struct ConnectionProfile {
    std::string address;
    std::string port; // when given apart from the address
    std::string account;
    std::string domain;
    std::string name;
    bool rdp = true;
};

// A Windows connection file: one "name:type:value" setting per line.
[[nodiscard]] ConnectionProfile ReadRdpFile(std::string_view text);
// A Remmina profile: a key file whose [remmina] group holds the settings.
[[nodiscard]] ConnectionProfile ReadRemminaFile(std::string_view text);

// "host:port", "host", or "[v6]:port", blanks around it dropped; a text with several colons and no brackets is an
// IPv6 host alone.
[[nodiscard]] std::pair<std::string, std::string> SplitAddress(std::string_view address);

// The account with its domain before it, as both clients log in with it; an account that names a domain of its
// own keeps it, as the clients let it win over the file's domain. Both in GBK.
[[nodiscard]] std::string WithDomain(const std::string& domain, const std::string& account);
