#include "servers/RemoteDesktopLauncher.h"

#include "runtime/DataProtection.h"
#include "runtime/DetachedProcess.h"
#include "runtime/ProgramDirectory.h"
#include "runtime/TemporaryFiles.h"
#include "runtime/UserRegistry.h"
#include "servers/RdpFile.h"

#include <algorithm>
#include <chrono>

// The Windows launcher: mstsc.exe reads the password from the protected blob in the file, so nothing goes to
// its standard input, and it is started with the one command line it has always been given.

const char* const kLocalDevicesKey = "Software\\Microsoft\\Terminal Server Client\\LocalDevices";

namespace {

constexpr std::uint32_t kLocalDevicesValue = 76;
constexpr std::chrono::milliseconds kIdleWait{1000};

} // namespace

const std::vector<std::string>& RemoteDesktopClients() {
    static const std::vector<std::string> names{"mstsc.exe"};
    return names;
}

LaunchResult LaunchRemoteDesktop(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk) {
    LaunchResult result;
    // A line break from a file that never went through the editor would let the entry rewrite the file's
    // other lines, the address among them, while the list shows another.
    result.unsafeField = UnsafeConnectionField(entry);
    if (result.unsafeField != ConnectionField::None) {
        result.outcome = LaunchOutcome::UnsafeValue;
        return result;
    }
    // Without a client nothing is left behind: no file holding the password, no registry value.
    result.client = FindOnPath(RemoteDesktopClients().front());
    if (result.client.empty()) {
        result.outcome = LaunchOutcome::NoClient;
        return result;
    }

    std::string blob;
    if (!entry.password.empty()) {
        Bytes plain = PasswordPlaintext(entry.password);
        blob = PasswordBlob(ProtectData(plain, "psw").value_or(Bytes()));
        std::fill(plain.begin(), plain.end(), 0);
    }
    // A name drawn at random and created exclusively: the client never gets a file this run did not write.
    const std::string directory = PrivateSessionDirectory();
    if (!directory.empty()) {
        result.connectionFile =
            WriteUniqueFile(directory, TemporaryFileName, ConnectionFileText(entry, localDisk, blob));
    }
    if (result.connectionFile.empty()) {
        result.outcome = LaunchOutcome::NoFile;
        return result;
    }

    if (!RegistryQueryDword(kLocalDevicesKey, entry.host)) {
        static_cast<void>(RegistrySetDword(kLocalDevicesKey, entry.host, kLocalDevicesValue));
    }

    result.commandLine = ClientCommandLine(result.connectionFile, options);
    result.outcome = StartCommandLine(result.commandLine, kIdleWait) ? LaunchOutcome::Started : LaunchOutcome::Failed;
    return result;
}
