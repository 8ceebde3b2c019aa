#include "servers/ServerImport.h"

#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/Log.h"
#include "servers/ConnectionFiles.h"

#include <algorithm>
#include <filesystem>
#include <optional>

namespace {

constexpr std::string_view kDefaultPort = "3389";

bool EndsWithIgnoreCase(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && Gbk::EqualsIgnoreCase(text.substr(text.size() - ending.size()), ending);
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
    const std::optional<DecodedFile> decoded = DecodeConnectionFile(bytes);
    // Remmina writes UTF-8 only.
    if (!decoded || (!rdpFile && !decoded->utf8)) {
        file.skip = ImportSkip::NotText;
        return file;
    }
    ConnectionProfile profile = rdpFile ? ReadRdpFile(decoded->text) : ReadRemminaFile(decoded->text);
    if (!profile.rdp) {
        file.skip = ImportSkip::NotRdp;
        return file;
    }
    auto [host, port] = SplitAddress(profile.address);
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
        if (!read) {
            Log::Failure("servers", "a dropped file was skipped", read.error());
            file.skip = ImportSkip::Unreadable;
            continue;
        }
        file = ParseServerFile(path, *read);
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
