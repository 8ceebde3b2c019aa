// Settings files of any content: deciphering and parsing never crash, and every entry that a server line
// can carry comes back unchanged after a save.
#include "runtime/Gbk.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"

#include <cstdint>

namespace {

// A field the windows could have stored: text that survives a trip through Unicode, without the line's
// separators and without the password marker.
bool Carried(const std::string& field) {
    const std::optional<std::string> unicode = Gbk::TryToUtf8(field);
    return unicode && Gbk::TryFromUtf8(*unicode) == field && field.find_first_of("|\r\n") == std::string::npos &&
           !Gbk::Contains(field, kPasswordStart);
}

void Check(const Bytes& settings) {
    const auto [parsedEntries, options] = ParseSettings(settings);
    std::string password = StartupPasswordOf(settings);

    std::vector<ServerEntry> entries = parsedEntries;
    std::erase_if(entries, [](const ServerEntry& e) {
        return !Carried(e.host) || !Carried(e.port) || !Carried(e.account) || !Carried(e.password) || !Carried(e.note);
    });
    if (!IsStorableStartupPassword(password) || !Carried(password)) {
        password.clear();
    }
    const Bytes saved = BytesFromText(SettingsText(entries, options, password));
    if (ParseSettings(saved).servers != entries || StartupPasswordOf(saved) != password) {
        __builtin_trap();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const Bytes raw(data, data + size);
    Check(raw);
    Check(Rc4Crypt(raw, kSettingsKey));

    // Markers of any length taken from the input itself.
    if (size >= 2) {
        const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
        const std::size_t startLength = std::min<std::size_t>(data[0] % 4 + 1, text.size());
        const std::size_t endLength = std::min<std::size_t>(data[1] % 3 + 1, text.size() - startLength);
        // Only crashes and sanitizer reports matter here, not the piece found.
        static_cast<void>(ExtractMarked(text.substr(startLength + endLength), text.substr(0, startLength),
                                        text.substr(startLength, endLength)));
    }
    return 0;
}
