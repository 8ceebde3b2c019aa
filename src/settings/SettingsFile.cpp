#include "settings/SettingsFile.h"

#include "runtime/Files.h"
#include "runtime/Gbk.h"
#include "settings/Rc4Crypt.h"

#include <array>

namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr std::string_view kFieldSeparator = "|";
constexpr std::string_view kConsoleTag = "#onsole:";
constexpr std::string_view kAdminTag = "#admin:";
constexpr std::string_view kStartTag = "#Start:";

} // namespace

std::string ExtractMarked(std::string_view text, std::string_view start, std::string_view end) {
    if (start.empty() || end.empty()) {
        return ""; // an empty marker would match everywhere and never move on
    }
    std::string result;
    bool first = true;
    for (std::size_t at = Gbk::Find(text, start); at != Gbk::npos;) {
        const std::size_t close = Gbk::Find(text, end, at);
        if (close == Gbk::npos) {
            return "";
        }
        const std::size_t from = at + start.size();
        if (!first) {
            result += "||";
        }
        // A start marker that overlaps its end marker gives an empty piece.
        result += text.substr(from, close > from ? close - from : 0);
        first = false;
        at = Gbk::Find(text, start, close + end.size());
    }
    return result;
}

Bytes LoadSettings(const std::string& fileName) {
    return Rc4Crypt(ReadWholeFile(fileName), kSettingsKey);
}

LoadedSettings LoadSettings(const DataDirectories& directories) {
    const std::string readPath = directories.ReadPath(kSettingsFileName);
    std::string savePath = directories.SavePath(kSettingsFileName);
    const FileStamp stamp = savePath.empty() ? FileStamp{} : StampOf(savePath);
    // A link another user planted is read as nothing and never written through: what it names is theirs to pick.
    const FileRead file = LinksAreTrusted(readPath)
                              ? ReadFile(readPath)
                              : FileRead(Fail(std::errc::permission_denied, "following the link " + readPath));
    LoadedSettings loaded{Rc4Crypt(file.value_or(Bytes()), kSettingsKey), std::move(savePath), SettingsSaveBlock::None,
                          std::nullopt, stamp};
    if (loaded.savePath.empty()) {
        loaded.block = SettingsSaveBlock::NoDirectory;
    } else if (!file && !IsMissing(file)) {
        loaded.block = SettingsSaveBlock::Unreadable;
        loaded.readFailure = file.error();
    } else if (!MayReplace(loaded.savePath)) {
        loaded.block = SettingsSaveBlock::ReadOnly;
    }
    if (loaded.block != SettingsSaveBlock::None) {
        loaded.savePath.clear();
    } else {
        RemoveStaleTemporaries(loaded.savePath);
    }
    return loaded;
}

std::string StartupPasswordOf(const Bytes& settingsBytes) {
    return ExtractMarked(TextViewOf(settingsBytes), kPasswordStart, kPasswordEnd);
}

ParsedSettings ParseSettings(const Bytes& settingsBytes) {
    const std::vector<std::string_view> lines = Gbk::Split(TextViewOf(settingsBytes), kLineEnd);
    ParsedSettings parsed;
    std::vector<ServerEntry>& entries = parsed.servers;
    ConnectionOptions& options = parsed.options;
    entries.reserve(lines.size());
    for (const std::string_view line : lines) {
        // Pieces after the fifth are ignored; missing fourth and fifth pieces stay empty.
        std::array<std::string_view, 5> pieces{};
        if (Gbk::SplitInto(line, kFieldSeparator, pieces) >= 3) {
            entries.push_back({std::string(pieces[0]), std::string(pieces[1]), std::string(pieces[2]),
                               std::string(pieces[3]), std::string(pieces[4]), ServerStatus::Unknown});
        }
        const bool lastIsOne = !line.empty() && line.back() == '1';
        if (Gbk::Contains(line, kConsoleTag)) {
            continue;
        }
        if (Gbk::Contains(line, kAdminTag)) {
            options.forceLogin = options.forceLogin || lastIsOne;
        } else if (Gbk::Contains(line, kStartTag)) {
            options.fullScreen = lastIsOne;
        }
    }
    return parsed;
}

std::string SettingsText(const std::vector<ServerEntry>& servers, const ConnectionOptions& options,
                         std::string_view startupPassword) {
    std::string text;
    for (const ServerEntry& entry : servers) {
        for (const std::string* field : {&entry.host, &entry.port, &entry.account, &entry.password}) {
            text.append(*field).append(kFieldSeparator);
        }
        text.append(entry.note).append(kLineEnd);
    }
    if (options.forceLogin) {
        text.append(kAdminTag).append("1").append(kLineEnd);
    }
    text.append(kStartTag).append(options.fullScreen ? "1" : "0").append(kLineEnd);
    text.append(kPasswordStart).append(startupPassword).append(kPasswordEnd).append(kLineEnd);
    return text;
}

std::size_t ServerLineSize(const ServerEntry& entry) {
    return SettingsText({entry}, {}, "").size() - SettingsText({}, {}, "").size();
}

std::size_t SettingsRoom(const std::vector<ServerEntry>& servers, std::string_view startupPassword) {
    // The text as it would be saved, with the admin line that an option change may still add.
    const std::size_t size = SettingsText(servers, {true, true}, startupPassword).size();
    return size < kReadLimit ? kReadLimit - size : 0;
}

Result<void> SaveSettings(const std::vector<ServerEntry>& servers, const ConnectionOptions& options,
                          std::string_view startupPassword, const std::string& fileName) {
    const Bytes cipher = Rc4Crypt(BytesFromText(SettingsText(servers, options, startupPassword)), kSettingsKey);
    // The file holds every server password behind a fixed key: keep it to its owner.
    return ReplaceFileAtomically(fileName, cipher, 0600);
}

bool IsStorableStartupPassword(std::string_view password) {
    std::size_t separators = 0;
    for (std::size_t at = Gbk::Find(password, kFieldSeparator); at != Gbk::npos;
         at = Gbk::Find(password, kFieldSeparator, at + 1)) {
        ++separators;
    }
    return separators < 2 && !Gbk::Contains(password, kPasswordEnd) && !Gbk::Contains(password, kStartTag);
}
