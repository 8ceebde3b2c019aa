#include "servers/RemoteDesktopLauncher.h"

#include "runtime/DataProtection.h"
#include "runtime/DetachedProcess.h"
#include "runtime/TemporaryFiles.h"
#include "runtime/UserRegistry.h"
#include "servers/RdpFile.h"

#include <algorithm>
#include <atomic>
#include <chrono>

// The Windows launcher: mstsc.exe reads the password from the protected blob in the file, so nothing goes to
// its standard input, and it is started with the one command line it has always been given.

const char* const kLocalDevicesKey = "Software\\Microsoft\\Terminal Server Client\\LocalDevices";

namespace {

constexpr std::uint32_t kLocalDevicesValue = 76;
constexpr int kMaxNameTries = 10000;
constexpr std::chrono::milliseconds kIdleWait{1000};

std::atomic<std::uint32_t> nameCounter{0};

std::uint32_t MillisecondsSinceStart() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// Claims a fresh name by creating the file, so the existence test and the creation are one step.
std::string WriteConnectionFile(const std::string& text) {
    const std::string directory = TemporaryDirectory();
    std::uint32_t number = MillisecondsSinceStart() + ++nameCounter;
    std::string path;
    for (int tries = 0; tries < kMaxNameTries; ++tries, ++number) {
        path = directory + TemporaryFileName(number);
        if (WriteNewFile(path, text) != NewFileResult::Exists) {
            break;
        }
    }
    return path;
}

} // namespace

const std::vector<std::string>& RemoteDesktopClients() {
    static const std::vector<std::string> names{"mstsc.exe"};
    return names;
}

LaunchResult LaunchRemoteDesktop(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk) {
    LaunchResult result;
    // Without a client nothing is left behind: no file holding the password, no registry value.
    if (FindOnPath(RemoteDesktopClients().front()).empty()) {
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
    result.outcome = StartCommandLine(result.commandLine, kIdleWait) ? LaunchOutcome::Started : LaunchOutcome::Failed;
    return result;
}
