#pragma once

#include "runtime/Bytes.h"
#include "servers/ServerEntry.h"
#include "settings/ConnectionOptions.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// The remote-desktop connection file and command line, as text. The protection of the password itself is
// the caller's: these functions only lay out bytes.

// The 45-line connection file with its placeholders, lines joined by "\r\n", none after the last (GBK).
const std::string& ConnectionFileTemplate();

// The 512 bytes whose protection goes into the file: the password as UTF-16LE with its terminator and zero
// bytes after it, or only its first 512 bytes when it is longer.
Bytes PasswordPlaintext(const std::string& password);

// Upper-case hex of each protected byte, two digits each, then one "0"; protection that failed gives "0".
std::string PasswordBlob(const Bytes& protectedPassword);

// The template filled for `entry`. `passwordBlob` is used only when the entry has a password; without one the
// password line keeps its placeholder.
std::string ConnectionFileText(const ServerEntry& entry, bool localDisk, std::string_view passwordBlob);

// The host as the clients read an address: an IPv6 address, the only kind with a colon in it, in brackets
// (one already in them keeps them); any other host as it is.
std::string AddressHost(const std::string& host);

// The address line's value: the host as above, ":" and the port text. Without the brackets the port would be
// taken for an IPv6 address's last group.
std::string FullAddress(const std::string& host, const std::string& port);

// `text` (a filled connection file) with its first line, the screen mode, saying what the page chose: 1 for a
// window, 2 for full screen. FreeRDP lets that line win over the window size of its command line.
std::string WithScreenMode(std::string text, bool fullScreen);

// The connection file as the Windows client writes its own: UTF-16LE after a byte-order mark. FreeRDP reads
// a file without the mark as UTF-8, which would turn a Chinese account into another name.
Bytes ConnectionFileUtf16(const std::string& text);

// The screen options as separate words, in order: "/admin", then "/w:800" "/h:600" or "/f".
std::vector<std::string> ClientOptions(const ConnectionOptions& options);

// The client's command line as it reads on Windows: "mstsc.exe " + path + " " + each option and a blank. A path
// holding a blank is quoted, or the client would get its pieces as separate arguments; any other path stands
// as it is.
std::string ClientCommandLine(const std::string& path, const ConnectionOptions& options);

// A temporary file name: lower-case hex of `number` and ".tmp".
std::string TemporaryFileName(std::uint64_t number);

// The texts of an entry that reach the connection file or the client.
enum class ConnectionField { None, Host, Port, Account, Password };

// The first of the entry's texts holding a line break or a zero byte, which would end its line early and add
// lines of its own to the connection file; None when every text can be written as it stands.
ConnectionField UnsafeConnectionField(const ServerEntry& entry);
