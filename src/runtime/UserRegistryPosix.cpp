#include "runtime/UserRegistry.h"

#include "runtime/FileDescriptorPosix.h"
#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "runtime/LastErrorPosix.h"

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// One value a line: escaped key, tab, escaped name, tab, "dword", tab, the value in decimal. Lines this
// version does not understand are kept as they are.

namespace {

constexpr std::string_view kDword = "dword";

// Tabs, line ends and "%" inside a key or name are written as "%XX", so every line splits cleanly.
std::string Escape(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string escaped;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '%') {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0xF];
        } else {
            escaped += c;
        }
    }
    return escaped;
}

std::string Unescape(std::string_view text) {
    std::string plain;
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned value = 0;
        if (text[i] == '%' && i + 2 < text.size() &&
            std::from_chars(text.data() + i + 1, text.data() + i + 3, value, 16).ptr == text.data() + i + 3) {
            plain += static_cast<char>(value);
            i += 2;
        } else {
            plain += text[i];
        }
    }
    return plain;
}

struct Line {
    bool isValue = false;
    std::string key;
    std::string name;
    std::uint32_t value = 0;
};

Line ParseLine(std::string_view text) {
    Line line;
    const auto tab1 = text.find('\t');
    const auto tab2 = tab1 == text.npos ? text.npos : text.find('\t', tab1 + 1);
    const auto tab3 = tab2 == text.npos ? text.npos : text.find('\t', tab2 + 1);
    if (tab3 == text.npos || text.substr(tab2 + 1, tab3 - tab2 - 1) != kDword) {
        return line;
    }
    const std::string_view number = text.substr(tab3 + 1);
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), line.value);
    if (error != std::errc() || end != number.data() + number.size() || number.empty()) {
        return line;
    }
    line.isValue = true;
    line.key = Unescape(text.substr(0, tab1));
    line.name = Unescape(text.substr(tab1 + 1, tab2 - tab1 - 1));
    return line;
}

bool Matches(const Line& line, const std::string& key, const std::string& name) {
    return line.isValue && Gbk::EqualsIgnoreCase(line.key, key) && Gbk::EqualsIgnoreCase(line.name, name);
}

std::vector<std::string_view> LinesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const auto end = text.find('\n');
        lines.push_back(text.substr(0, end));
        text = end == text.npos ? std::string_view() : text.substr(end + 1);
    }
    return lines;
}

std::string_view TextOf(const Bytes& data) {
    return {reinterpret_cast<const char*>(data.data()), data.size()};
}

bool MakeDirectory(const std::string& path) {
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

} // namespace

std::string UserRegistryPath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        base = std::string(home) + "/.config";
    } else {
        return {};
    }
    if (!MakeDirectory(base) || !MakeDirectory(base + "/tolvar")) {
        return {};
    }
    return base + "/tolvar/registry";
}

std::optional<std::uint32_t> RegistryQueryDword(const std::string& key, const std::string& name,
                                                const std::string& store) {
    if (store.empty()) {
        return std::nullopt;
    }
    const Bytes data = ReadWholeFile(store);
    for (const std::string_view text : LinesOf(TextOf(data))) {
        const Line line = ParseLine(text);
        if (Matches(line, key, name)) {
            return line.value;
        }
    }
    return std::nullopt;
}

namespace {

Result<void> SetDword(const std::string& key, const std::string& name, std::uint32_t value, const std::string& store) {
    if (store.empty()) {
        return Fail(std::errc::no_such_file_or_directory);
    }
    // Two programs setting values at once must not lose one another's, so the read and the rewrite happen
    // under a lock on a file beside the store.
    const FileDescriptor lock(::open((store + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.Get() < 0) {
        return LastError();
    }
    while (::flock(lock.Get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    // A store that exists but cannot be read whole is left alone, since rewriting it would drop its values.
    const FileRead read = ReadFile(store);
    if (!read && !IsMissing(read)) {
        return FailureOf(read);
    }
    const Bytes data = read.value_or(Bytes());
    const std::string entry =
        Escape(key) + '\t' + Escape(name) + '\t' + std::string(kDword) + '\t' + std::to_string(value);
    std::string text;
    bool replaced = false;
    for (const std::string_view line : LinesOf(TextOf(data))) {
        if (!replaced && Matches(ParseLine(line), key, name)) {
            text += entry;
            replaced = true;
        } else {
            text += line;
        }
        text += '\n';
    }
    if (!replaced) {
        text += entry + '\n';
    }
    return ReplaceFileAtomically(store, BytesFromText(text), 0600);
}

} // namespace

Result<void> RegistrySetDword(const std::string& key, const std::string& name, std::uint32_t value,
                              const std::string& store) {
    // The value itself stays out of the reason: only where it was to go.
    return SetDword(key, name, value, store).Doing("storing " + name + " under " + key + " in the per-user registry");
}
