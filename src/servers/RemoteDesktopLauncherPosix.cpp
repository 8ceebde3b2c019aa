#include "servers/RemoteDesktopLauncher.h"

#include "runtime/Gbk.h"
#include "runtime/ProgramDirectory.h"
#include "runtime/TemporaryFiles.h"
#include "servers/LaunchSteps.h"

#include <algorithm>

namespace {

// FreeRDP takes its first argument for a connection file only when the name ends so.
std::string ConnectionFileName(std::uint64_t number) {
    return TemporaryFileName(number) + ".rdp";
}

} // namespace

std::string NoClientText() {
    return "未找到远程桌面客户端 xfreerdp。\n请先安装 freerdp2-x11 软件包。";
}

std::string NoFileText() {
    return "无法在只属于您的目录中创建连接文件，没有连接。\n"
           "请检查 $XDG_RUNTIME_DIR 或 ~/.local/share/tolvar 的权限和剩余空间。";
}

std::string TrustedCertificatesPlace(const std::string& client) {
    return client == "xfreerdp3" ? "~/.config/freerdp/server/" : "~/.config/freerdp/known_hosts2";
}

const std::vector<std::string>& RemoteDesktopClients() {
    static const std::vector<std::string> names{"xfreerdp3", "xfreerdp"};
    return names;
}

LaunchResult LaunchRemoteDesktop(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk) {
    LaunchResult result;
    if (std::optional<LaunchResult> refused = RefusedLaunch(entry, result.client)) {
        return std::move(*refused);
    }

    // The password line keeps its place with the blob of nothing protected: FreeRDP would only log a blob.
    const std::string text = WithScreenMode(ConnectionFileText(entry, localDisk, PasswordBlob({})), options.fullScreen);
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

    RecordLocalDevices(entry.host);

    result.commandLine = ClientCommandLine(result.connectionFile, options);
    // The client reads a connection file only as its first argument.
    std::vector<std::string> arguments{result.connectionFile};
    // FreeRDP 2 takes a bracketed IPv6 address in the file for a name and fails to look it up, but reads one on
    // its command line, where it wins over the file's.
    if (entry.host.find(':') != std::string::npos) {
        arguments.push_back("/v:" + Gbk::ToUtf8(AddressHost(entry.host)));
        if (!entry.port.empty()) {
            arguments.push_back("/port:" + Gbk::ToUtf8(entry.port));
        }
    }
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
    Result<WatchedProcess> started = StartWatched(result.client, arguments, input);
    if (started) {
        result.process = std::move(*started);
        result.outcome = LaunchOutcome::Started;
    } else {
        result.failure = started.error();
        result.outcome = LaunchOutcome::Failed;
    }
    std::fill(input.begin(), input.end(), '\0');
    return result;
}
