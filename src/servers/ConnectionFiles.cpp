#include "servers/ConnectionFiles.h"

#include "runtime/Gbk.h"

namespace {

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && blank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
    return lines;
}

// A key file value with its escapes undone, as GLib writes them.
std::string Unescape(std::string_view value) {
    std::string out;
    for (std::size_t at = 0; at < value.size(); ++at) {
        if (value[at] != '\\' || at + 1 == value.size()) {
            out += value[at];
            continue;
        }
        switch (value[++at]) {
        case 's':
            out += ' ';
            break;
        case 'n':
            out += '\n';
            break;
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        default:
            out += value[at];
        }
    }
    return out;
}

} // namespace

std::optional<DecodedFile> DecodeConnectionFile(const Bytes& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::optional<std::string> text =
            Gbk::Utf8FromUtf16Le(std::string_view(reinterpret_cast<const char*>(bytes.data()) + 2, bytes.size() - 2));
        return text ? std::optional<DecodedFile>({std::move(*text), true}) : std::nullopt;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (Gbk::IsUtf8(text)) {
        return DecodedFile{std::string(text), true};
    }
    // Windows writes its connection files in the system's code page when told to save them as "ANSI".
    if (Gbk::TryToUtf8(text)) {
        return DecodedFile{std::string(text), false};
    }
    return std::nullopt;
}

// "host:port", "host", or "[v6]:port"; a text with several colons and no brackets is an IPv6 host alone.
std::pair<std::string, std::string> SplitAddress(std::string_view address) {
    address = Trim(address);
    if (address.starts_with('[')) {
        const std::size_t close = address.find(']');
        if (close != std::string_view::npos) {
            const std::string_view rest = address.substr(close + 1);
            return {std::string(address.substr(1, close - 1)),
                    std::string(rest.starts_with(':') ? rest.substr(1) : std::string_view{})};
        }
    }
    const std::size_t colon = address.find(':');
    if (colon == std::string_view::npos || address.find(':', colon + 1) != std::string_view::npos) {
        return {std::string(address), {}};
    }
    return {std::string(address.substr(0, colon)), std::string(address.substr(colon + 1))};
}

// The account with its domain before it, as both clients log in with it; an account that names a domain of its
// own keeps it, as the clients let it win over the file's domain. Both in GBK.
std::string WithDomain(const std::string& domain, const std::string& account) {
    if (domain.empty() || account.empty() || Gbk::Contains(account, "\\") || Gbk::Contains(account, "@")) {
        return account;
    }
    return domain + "\\" + account;
}

// Windows connection file: one "name:type:value" setting per line.
ConnectionProfile ReadRdpFile(std::string_view text) {
    ConnectionProfile profile;
    std::string alternate;
    for (const std::string_view line : Lines(text)) {
        const std::size_t first = line.find(':');
        const std::size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
        if (second == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trim(line.substr(0, first));
        const std::string_view value = Trim(line.substr(second + 1));
        if (Gbk::EqualsIgnoreCase(key, "full address")) {
            profile.address = value;
        } else if (Gbk::EqualsIgnoreCase(key, "alternate full address")) {
            alternate = value;
        } else if (Gbk::EqualsIgnoreCase(key, "server port")) {
            profile.port = value;
        } else if (Gbk::EqualsIgnoreCase(key, "username")) {
            profile.account = value;
        } else if (Gbk::EqualsIgnoreCase(key, "domain")) {
            profile.domain = value;
        }
    }
    // Both clients connect to the alternate address when a file has one.
    if (!alternate.empty()) {
        profile.address = std::move(alternate);
    }
    return profile;
}

// Remmina profile: a key file whose [remmina] group holds the settings.
ConnectionProfile ReadRemminaFile(std::string_view text) {
    ConnectionProfile profile;
    profile.rdp = false;
    bool inGroup = false;
    for (const std::string_view raw : Lines(text)) {
        const std::string_view line = Trim(raw);
        if (line.starts_with('[')) {
            inGroup = line == "[remmina]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inGroup || line.starts_with('#') || equals == std::string_view::npos) {
            continue;
        }
        const std::string_view key = Trim(line.substr(0, equals));
        const std::string value = Unescape(Trim(line.substr(equals + 1)));
        if (key == "protocol") {
            profile.rdp = Gbk::EqualsIgnoreCase(value, "RDP");
        } else if (key == "server") {
            profile.address = value;
        } else if (key == "username") {
            profile.account = value;
        } else if (key == "domain") {
            profile.domain = value;
        } else if (key == "name") {
            profile.name = value;
        }
    }
    return profile;
}
