#include "Http.h"

#include <cctype>

namespace {

bool IsTokenByte(unsigned char byte) {
    return std::isalnum(byte) != 0 ||
           std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(byte)) != std::string_view::npos;
}

bool SameLetters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

// One "name: value" header line, without its line end, taken into `head`; false when it is no such line.
bool TakeHeaderLine(std::string_view line, RequestHead& head) {
    const std::size_t colon = line.find(':');
    if (colon == 0 || colon == std::string_view::npos) {
        return false;
    }
    const std::string_view name = line.substr(0, colon);
    for (const char c : name) {
        if (!IsTokenByte(static_cast<unsigned char>(c))) {
            return false;
        }
    }
    const std::string_view value = Trimmed(line.substr(colon + 1));
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7f) {
            return false;
        }
    }
    if (SameLetters(name, "Host")) {
        head.host = true;
    } else if (SameLetters(name, "Content-Length") || SameLetters(name, "Transfer-Encoding")) {
        head.body = true;
    } else if (SameLetters(name, "Connection")) {
        std::string_view rest = value;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view token = Trimmed(rest.substr(0, comma));
            head.close = head.close || SameLetters(token, "close");
            head.keepAlive = head.keepAlive || SameLetters(token, "keep-alive");
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

std::string Decoded(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            decoded += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            decoded += text[i];
        }
    }
    return decoded;
}

} // namespace

HeadState ReadHead(std::string_view received, std::size_t limit, RequestHead& head) {
    const std::size_t size = received.size();
    const HeadState more = size >= limit ? HeadState::TooLarge : HeadState::Incomplete;
    const auto at = [&](std::size_t i) { return static_cast<unsigned char>(received[i]); };
    std::size_t pos = 0;
    // Blank lines before the request line are tolerated, as HTTP asks of servers.
    while (pos < size && (at(pos) == '\r' || at(pos) == '\n')) {
        ++pos;
    }
    const std::size_t method = pos;
    while (pos < size && IsTokenByte(at(pos))) {
        ++pos;
    }
    if (pos == size) {
        return more;
    }
    if (pos == method || at(pos) != ' ') {
        return HeadState::Malformed;
    }
    const std::size_t methodEnd = pos;
    const std::size_t target = ++pos;
    // Bytes past ASCII pass: clients send typed text unescaped.
    while (pos < size && at(pos) > 0x20 && at(pos) != 0x7f) {
        ++pos;
    }
    if (pos == size) {
        return more;
    }
    const std::string_view targetText = received.substr(target, pos - target);
    // "%00" would decode to a zero byte that ends an address early.
    if (pos == target || at(pos) != ' ' || targetText.find("%00") != std::string_view::npos) {
        return HeadState::Malformed;
    }
    ++pos;
    constexpr std::string_view kVersion = "HTTP/9.9";
    const std::size_t version = pos;
    for (std::size_t i = 0; i < kVersion.size(); ++i, ++pos) {
        if (pos == size) {
            return more;
        }
        const bool fits = kVersion[i] == '9' ? std::isdigit(at(pos)) != 0 : at(pos) == kVersion[i];
        if (!fits) {
            return HeadState::Malformed;
        }
    }
    if (pos < size && at(pos) == '\r') {
        ++pos;
    }
    if (pos == size) {
        return more;
    }
    if (at(pos) != '\n') {
        return HeadState::Malformed;
    }
    ++pos;
    // The head ends at the first empty line after the request line; only then are the header lines read.
    std::size_t end = std::string_view::npos;
    if (pos < size && (at(pos) == '\n' || (at(pos) == '\r' && pos + 1 < size && at(pos + 1) == '\n'))) {
        end = pos;
    } else if (const std::size_t blank = received.find("\n\r\n", pos - 1); blank != std::string_view::npos) {
        end = blank + 1;
    }
    if (const std::size_t bare = received.find("\n\n", pos - 1); bare != std::string_view::npos && bare + 1 < end) {
        end = bare + 1;
    }
    if (end == std::string_view::npos || end >= limit) {
        return end == std::string_view::npos ? more : HeadState::TooLarge;
    }
    RequestHead read;
    read.method = received.substr(method, methodEnd - method);
    read.target = targetText;
    read.major = at(version + 5) - '0';
    read.minor = at(version + 7) - '0';
    while (pos < end) {
        std::size_t lineEnd = received.find('\n', pos);
        std::string_view line = received.substr(pos, lineEnd - pos);
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        if (!TakeHeaderLine(line, read)) {
            return HeadState::Malformed;
        }
        pos = lineEnd + 1;
    }
    read.size = end + (at(end) == '\r' ? 2 : 1);
    head = read;
    return HeadState::Whole;
}

std::string_view PathOf(std::string_view target) {
    return target.substr(0, target.find('?'));
}

std::optional<std::string> QueryArgument(std::string_view target, std::string_view name) {
    const std::size_t question = target.find('?');
    if (question == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = target.substr(question + 1);
    while (!rest.empty()) {
        const std::size_t amp = rest.find('&');
        const std::string_view argument = rest.substr(0, amp);
        const std::size_t equals = argument.find('=');
        if (equals != std::string_view::npos && Decoded(argument.substr(0, equals)) == name) {
            return Decoded(argument.substr(equals + 1));
        }
        rest = amp == std::string_view::npos ? std::string_view() : rest.substr(amp + 1);
    }
    return std::nullopt;
}
