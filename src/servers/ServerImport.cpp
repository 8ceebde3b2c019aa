#include "servers/ServerImport.h"

#include "runtime/Files.h"
#include "runtime/Gbk.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

constexpr std::string_view kDefaultPort = "3389";

// A file's text, in UTF-8 or, for an "ANSI" connection file, in GBK.
struct Decoded {
    std::string text;
    bool utf8 = true;
};

bool EndsWithIgnoreCase(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && Gbk::EqualsIgnoreCase(text.substr(text.size() - ending.size()), ending);
}

std::optional<Decoded> Decode(const Bytes& bytes) {
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        std::optional<std::string> text =
            Gbk::Utf8FromUtf16Le(std::string_view(reinterpret_cast<const char*>(bytes.data()) + 2, bytes.size() - 2));
        return text ? std::optional<Decoded>({std::move(*text), true}) : std::nullopt;
    }
    std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (text.find('\0') != std::string_view::npos) {
        return std::nullopt;
    }
    if (text.starts_with("\xEF\xBB\xBF")) {
        text.remove_prefix(3);
    }
    if (Gbk::IsUtf8(text)) {
        return Decoded{std::string(text), true};
    }
    // Windows writes its connection files in the system's code page when told to save them as "ANSI".
    if (Gbk::TryToUtf8(text)) {
        return Decoded{std::string(text), false};
    }
    return std::nullopt;
}

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

// "host:port", "host", or "[v6]:port"; a text with several colons and no brackets is an IPv6 host alone.
std::pair<std::string, std::string> SplitAddress(std::string_view address) {
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

// The values a file gives, still in its own encoding.
struct Profile {
    std::string address;
    std::string port; // when given apart from the address
    std::string account;
    std::string domain;
    std::string name;
    bool rdp = true;
};

// The account with its domain before it, as both clients log in with it; an account that names a domain of its
// own keeps it, as the clients let it win over the file's domain. Both in GBK.
std::string WithDomain(const std::string& domain, const std::string& account) {
    if (domain.empty() || account.empty() || Gbk::Contains(account, "\\") || Gbk::Contains(account, "@")) {
        return account;
    }
    return domain + "\\" + account;
}

// Windows connection file: one "name:type:value" setting per line.
Profile ReadRdp(std::string_view text) {
    Profile profile;
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

// Remmina profile: a key file whose [remmina] group holds the settings.
Profile ReadRemmina(std::string_view text) {
    Profile profile;
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

// The value in GBK as the entry keeps it, or the problem that keeps it out of ms.ini.
FieldProblem Storable(const std::string& value, bool utf8, std::string& out) {
    std::optional<std::string> gbk = utf8 ? Gbk::TryFromUtf8(value) : std::optional<std::string>(value);
    if (!gbk) {
        return FieldProblem::ZeroByte; // no GBK form: the editor says the same of such a character
    }
    out = std::move(*gbk);
    return ServerFieldProblem(out);
}

// A port the clients can connect to: a decimal number from 1 to 65535.
bool IsPortNumber(std::string_view port) {
    if (port.empty() || port.size() > 5 ||
        !std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const int value = std::stoi(std::string(port));
    return value >= 1 && value <= 65535;
}

std::string BaseName(std::string_view path) {
    const std::size_t slash = path.find_last_of(kPathSeparator == '/' ? "/" : "/\\");
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

// Ports compare as they are stored, the text the connection file gets: a port past 65535 is not another one
// wrapped around.
bool SameServer(const ServerEntry& a, const ServerEntry& b) {
    return Gbk::EqualsIgnoreCase(a.host, b.host) && a.port == b.port && a.account == b.account;
}

// The path as the standard library takes it: the core's paths are UTF-8 on Windows, and bytes on Linux.
std::filesystem::path FileSystemPath(const std::string& path) {
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

} // namespace

ImportedFile ParseServerFile(std::string_view name, const Bytes& bytes) {
    ImportedFile file{.path = std::string(name)};
    const bool rdpFile = EndsWithIgnoreCase(name, ".rdp");
    if (!rdpFile && !EndsWithIgnoreCase(name, ".remmina")) {
        file.skip = ImportSkip::NotServerFile;
        return file;
    }
    const std::optional<Decoded> decoded = Decode(bytes);
    // Remmina writes UTF-8 only.
    if (!decoded || (!rdpFile && !decoded->utf8)) {
        file.skip = ImportSkip::NotText;
        return file;
    }
    Profile profile = rdpFile ? ReadRdp(decoded->text) : ReadRemmina(decoded->text);
    if (!profile.rdp) {
        file.skip = ImportSkip::NotRdp;
        return file;
    }
    auto [host, port] = SplitAddress(Trim(profile.address));
    if (port.empty()) {
        port = profile.port.empty() ? std::string(kDefaultPort) : profile.port;
    }
    if (host.empty()) {
        file.skip = ImportSkip::NoAddress;
        return file;
    }
    std::string domain;
    const std::pair<ImportField, std::pair<const std::string*, std::string*>> values[] = {
        {ImportField::Host, {&host, &file.entry.host}},
        {ImportField::Port, {&port, &file.entry.port}},
        {ImportField::Account, {&profile.account, &file.entry.account}},
        {ImportField::Account, {&profile.domain, &domain}},
    };
    for (const auto& [field, value] : values) {
        const FieldProblem problem = Storable(*value.first, decoded->utf8, *value.second);
        if (problem != FieldProblem::None) {
            file.skip = ImportSkip::Refused;
            file.field = field;
            file.problem = problem;
            return file;
        }
    }
    // Joined in GBK, where a "\\" or "@" of the account is found as a character and not as the second byte of one.
    file.entry.account = WithDomain(domain, file.entry.account);
    if (!IsPortNumber(file.entry.port)) {
        file.skip = ImportSkip::BadPort;
        return file;
    }
    // The note only helps tell entries apart, so one that cannot be stored is left out rather than refused.
    // File names on this system are UTF-8.
    const std::string title = profile.name.empty() ? BaseName(name) : profile.name;
    const bool titleUtf8 = profile.name.empty() || decoded->utf8;
    if (Storable(title, titleUtf8, file.entry.note) != FieldProblem::None) {
        file.entry.note.clear();
    }
    return file;
}

std::vector<ImportedFile> ImportServerFiles(const std::vector<std::string>& paths,
                                            const std::vector<ServerEntry>& existing) {
    std::vector<ImportedFile> files;
    std::vector<ServerEntry> known = existing;
    for (const std::string& path : paths) {
        ImportedFile& file = files.emplace_back(ImportedFile{.path = path});
        if (!EndsWithIgnoreCase(path, ".rdp") && !EndsWithIgnoreCase(path, ".remmina")) {
            file.skip = ImportSkip::NotServerFile;
            continue;
        }
        // Looked at before it is opened, so that a huge file or a FIFO is named for what it is.
        std::error_code error;
        const std::filesystem::path fsPath = FileSystemPath(path);
        const std::filesystem::file_status status = std::filesystem::status(fsPath, error);
        if (error || !std::filesystem::exists(status)) {
            file.skip = ImportSkip::Unreadable;
            continue;
        }
        if (!std::filesystem::is_regular_file(status)) {
            file.skip = ImportSkip::NotRegularFile;
            continue;
        }
        const std::uintmax_t size = std::filesystem::file_size(fsPath, error);
        if (!error && size > kImportFileLimit) {
            file.skip = ImportSkip::TooLarge;
            continue;
        }
        FileRead read = ReadFile(path, kImportFileLimit);
        if (read.outcome != ReadOutcome::Read) {
            file.skip = ImportSkip::Unreadable;
            continue;
        }
        file = ParseServerFile(path, read.bytes);
        if (file.skip != ImportSkip::None) {
            continue;
        }
        if (std::any_of(known.begin(), known.end(),
                        [&](const ServerEntry& entry) { return SameServer(entry, file.entry); })) {
            file.skip = ImportSkip::Duplicate;
            continue;
        }
        known.push_back(file.entry);
    }
    return files;
}
