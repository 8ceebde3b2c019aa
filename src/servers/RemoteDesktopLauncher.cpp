#include "servers/RemoteDesktopLauncher.h"

#include "runtime/DataProtection.h"
#include "runtime/DetachedProcess.h"
#include "runtime/Gbk.h"
#include "runtime/TemporaryFiles.h"
#include "runtime/UserRegistry.h"
#include "servers/RdpFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>

const char* const kLocalDevicesKey = "Software\\Microsoft\\Terminal Server Client\\LocalDevices";

namespace {

constexpr std::uint32_t kLocalDevicesValue = 76;
constexpr int kMaxNameTries = 10000;
// FreeRDP takes its first argument for a connection file only when the name ends so.
constexpr std::string_view kClientFileEnding = ".rdp";

std::atomic<std::uint32_t> nameCounter{0};

std::uint32_t MillisecondsSinceStart() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// Claims a fresh name by creating the file: the existence test and the creation are one step, so nobody can
// slip a link to another file in under that name between them. A failed write is not fatal: the client then
// says what is wrong with the file itself.
std::string WriteConnectionFile(const std::string& text) {
    const std::string directory = TemporaryDirectory();
    std::uint32_t number = MillisecondsSinceStart() + ++nameCounter;
    std::string path;
    for (int tries = 0; tries < kMaxNameTries; ++tries, ++number) {
        path = directory + TemporaryFileName(number) + std::string(kClientFileEnding);
        if (WriteNewFile(path, text) != NewFileResult::Exists) {
            break;
        }
    }
    return path;
}

std::string FindClient() {
    for (const std::string& name : RemoteDesktopClients()) {
        if (std::string path = FindOnPath(name); !path.empty()) {
            return path;
        }
    }
    return {};
}

} // namespace

const std::vector<std::string>& RemoteDesktopClients() {
    static const std::vector<std::string> names{"xfreerdp3", "xfreerdp"};
    return names;
}

LaunchResult LaunchRemoteDesktop(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk) {
    LaunchResult result;
    // Without a client nothing is left behind: no file holding the password, no registry value.
    const std::string client = FindClient();
    if (client.empty()) {
        result.outcome = LaunchOutcome::NoClient;
        return result;
    }

    std::string blob;
    if (!entry.password.empty()) {
        Bytes plain = PasswordPlaintext(entry.password);
        blob = PasswordBlob(ProtectData(plain, "psw").value_or(Bytes()));
        std::fill(plain.begin(), plain.end(), 0);
    }
    result.connectionFile = WriteConnectionFile(ConnectionFileText(entry, localDisk, blob));

    if (!RegistryQueryDword(kLocalDevicesKey, entry.host)) {
        RegistrySetDword(kLocalDevicesKey, entry.host, kLocalDevicesValue);
    }

    result.commandLine = ClientCommandLine(result.connectionFile, options);
    // The client reads a connection file only as its first argument.
    std::vector<std::string> arguments{result.connectionFile};
    for (std::string& word : ClientOptions(options)) {
        arguments.push_back(std::move(word));
    }
    // Nobody is at a terminal to accept a self-signed certificate, so the first one seen is trusted.
    arguments.emplace_back("/cert:tofu");
    std::string input;
    if (!entry.password.empty()) {
        arguments.emplace_back("/from-stdin:force");
        input = Gbk::ToUtf8(entry.password) + "\n";
    }
    result.outcome = StartDetached(client, arguments, input) ? LaunchOutcome::Started : LaunchOutcome::Failed;
    std::fill(input.begin(), input.end(), '\0');
    return result;
}
