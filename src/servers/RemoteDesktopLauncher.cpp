#include "servers/RemoteDesktopLauncher.h"

#include "runtime/Gbk.h"
#include "runtime/ProgramDirectory.h"
#include "runtime/TemporaryFiles.h"
#include "runtime/UserRegistry.h"

#include <algorithm>

const char* const kLocalDevicesKey = "Software\\Microsoft\\Terminal Server Client\\LocalDevices";

namespace {

constexpr std::uint32_t kLocalDevicesValue = 76;

// FreeRDP takes its first argument for a connection file only when the name ends so.
std::string ConnectionFileName(std::uint64_t number) {
    return TemporaryFileName(number) + ".rdp";
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
    // A line break from a file that never went through the editor would let the entry rewrite the file's
    // other lines, the address among them, while the list shows another.
    result.unsafeField = UnsafeConnectionField(entry);
    if (result.unsafeField != ConnectionField::None) {
        result.outcome = LaunchOutcome::UnsafeValue;
        return result;
    }
    // Without a client nothing is left behind: no file, no registry value.
    result.client = FindClient();
    if (result.client.empty()) {
        result.outcome = LaunchOutcome::NoClient;
        return result;
    }

    // The password line keeps its place with the blob of nothing protected: FreeRDP would only log a blob.
    const std::string text = ConnectionFileText(entry, localDisk, PasswordBlob({}));
    const Bytes file = ConnectionFileUtf16(text);
    const std::string directory = PrivateSessionDirectory();
    if (!directory.empty()) {
        result.connectionFile = WriteUniqueFile(
            directory, ConnectionFileName, std::string_view(reinterpret_cast<const char*>(file.data()), file.size()));
    }
    // A file this run did not just create may be anybody's, so the client is never pointed at one.
    if (result.connectionFile.empty()) {
        result.outcome = LaunchOutcome::NoFile;
        return result;
    }

    if (!RegistryQueryDword(kLocalDevicesKey, entry.host)) {
        static_cast<void>(RegistrySetDword(kLocalDevicesKey, entry.host, kLocalDevicesValue));
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
    result.process = StartWatched(result.client, arguments, input);
    result.outcome = result.process ? LaunchOutcome::Started : LaunchOutcome::Failed;
    std::fill(input.begin(), input.end(), '\0');
    return result;
}
