#include "servers/RdpFile.h"

#include "runtime/Gbk.h"

#include <cstdio>

namespace {

constexpr std::size_t kPlaintextSize = 512;

const char* const kTemplateLines[] = {
    "screen mode id:i:2",
    "desktopwidth:i:1280",
    "desktopheight:i:800",
    "session bpp:i:16",
    "winposstr:s:0,3,0,0,800,600",
    "full address:s:%服务器地址%",
    "compression:i:1",
    "keyboardhook:i:2",
    "audiomode:i:0",
    "redirectdrives:i:0",
    "redirectprinters:i:0",
    "redirectcomports:i:0",
    "%磁盘%",
    "displayconnectionbar:i:1",
    "autoreconnection enabled:i:1",
    "username:s:%账号%",
    "alternate shell:s:",
    "shell working directory:s:",
    "%密码%",
    "disable wallpaper:i:1",
    "disable full window drag:i:1",
    "disable menu anims:i:1",
    "disable themes:i:0",
    "disable cursor setting:i:0",
    "bitmapcachepersistenable:i:1",
    "use multimon:i:0",
    "audiocapturemode:i:0",
    "videoplaybackmode:i:1",
    "connection type:i:2",
    "allow font smoothing:i:0",
    "allow desktop composition:i:0",
    "redirectclipboard:i:1",
    "redirectposdevices:i:0",
    "redirectdirectx:i:1",
    "%智能卡%",
    "authentication level:i:0",
    "prompt for credentials:i:0",
    "negotiate security layer:i:1",
    "remoteapplicationmode:i:0",
    "gatewayhostname:s:",
    "gatewayusagemethod:i:4",
    "gatewaycredentialssource:i:4",
    "gatewayprofileusagemethod:i:0",
    "promptcredentialonce:i:1",
    "use redirection server name:i:0",
};

const std::string kAccount = Gbk::FromUtf8("%账号%");
const std::string kAddress = Gbk::FromUtf8("%服务器地址%");
const std::string kPassword = Gbk::FromUtf8("%密码%");
const std::string kDisk = Gbk::FromUtf8("%磁盘%");
const std::string kSmartCard = Gbk::FromUtf8("%智能卡%");

// The password as UTF-16LE bytes, without a terminator.
Bytes Utf16Of(const std::string& gbk) {
    Bytes out;
    for (const char16_t unit : Gbk::ToUtf16(gbk)) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    }
    return out;
}

} // namespace

const std::string& ConnectionFileTemplate() {
    static const std::string text = [] {
        std::string joined;
        for (const char* line : kTemplateLines) {
            if (!joined.empty()) {
                joined += "\r\n";
            }
            joined += line;
        }
        return Gbk::FromUtf8(joined);
    }();
    return text;
}

Bytes PasswordPlaintext(const std::string& password) {
    Bytes plain = Utf16Of(password);
    plain.push_back(0);
    plain.push_back(0);
    plain.resize(kPlaintextSize, 0);
    return plain;
}

std::string PasswordBlob(const Bytes& protectedPassword) {
    std::string blob;
    blob.reserve(protectedPassword.size() * 2 + 1);
    for (const unsigned char byte : protectedPassword) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        blob += digits;
    }
    blob += '0';
    return blob;
}

std::string ConnectionFileText(const ServerEntry& entry, bool localDisk, std::string_view passwordBlob) {
    std::string text = Gbk::Replace(ConnectionFileTemplate(), kAccount, entry.account);
    text = Gbk::Replace(text, kAddress, FullAddress(entry.host, entry.port));
    if (!entry.password.empty()) {
        text = Gbk::Replace(text, kPassword, "password 51:b:" + std::string(passwordBlob));
    }
    text = Gbk::Replace(text, kDisk, localDisk ? "redirectsmartcards:i:0" : "redirectsmartcards:i:1");
    return Gbk::Replace(text, kSmartCard, localDisk ? "drivestoredirect:s:*" : "drivestoredirect:s:");
}

std::string AddressHost(const std::string& host) {
    const bool bare = host.find(':') != std::string::npos && !host.starts_with('[');
    return bare ? "[" + host + "]" : host;
}

std::string FullAddress(const std::string& host, const std::string& port) {
    return AddressHost(host) + ":" + port;
}

std::string WithScreenMode(std::string text, bool fullScreen) {
    static const std::string_view kFullScreen = "screen mode id:i:2";
    if (!fullScreen && text.starts_with(kFullScreen)) {
        text[kFullScreen.size() - 1] = '1';
    }
    return text;
}

Bytes ConnectionFileUtf16(const std::string& text) {
    Bytes file{0xFF, 0xFE};
    const Bytes units = Utf16Of(text);
    file.insert(file.end(), units.begin(), units.end());
    return file;
}

std::vector<std::string> ClientOptions(const ConnectionOptions& options) {
    std::vector<std::string> words;
    if (options.forceLogin) {
        words.emplace_back("/admin");
    }
    if (options.fullScreen) {
        words.emplace_back("/f");
    } else {
        words.emplace_back("/w:800");
        words.emplace_back("/h:600");
    }
    return words;
}

std::string ClientCommandLine(const std::string& path, const ConnectionOptions& options) {
    // CommandLineToArgvW splits at blanks and tabs; a Windows file name holds no quote of its own.
    const bool blank = path.find_first_of(" \t") != std::string::npos;
    std::string line = "mstsc.exe " + (blank ? '"' + path + '"' : path) + " ";
    for (const std::string& word : ClientOptions(options)) {
        line += word + " ";
    }
    return line;
}

std::string TemporaryFileName(std::uint64_t number) {
    char name[24];
    std::snprintf(name, sizeof name, "%llx.tmp", static_cast<unsigned long long>(number));
    return name;
}

ConnectionField UnsafeConnectionField(const ServerEntry& entry) {
    const std::pair<const std::string*, ConnectionField> fields[] = {
        {&entry.host, ConnectionField::Host},
        {&entry.port, ConnectionField::Port},
        {&entry.account, ConnectionField::Account},
        {&entry.password, ConnectionField::Password},
    };
    for (const auto& [text, field] : fields) {
        // Bytes below 0x80 are never part of a two-byte GBK character, so a plain byte search is exact.
        if (text->find_first_of(std::string_view("\r\n\0", 3)) != std::string::npos) {
            return field;
        }
    }
    return ConnectionField::None;
}
