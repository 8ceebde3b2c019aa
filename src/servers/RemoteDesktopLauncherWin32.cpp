#include "servers/RemoteDesktopLauncher.h"

#include "runtime/DataProtection.h"
#include "runtime/DetachedProcess.h"
#include "runtime/ProgramDirectory.h"
#include "runtime/TemporaryFiles.h"
#include "servers/LaunchSteps.h"
#include "servers/RdpFile.h"

#include <algorithm>
#include <chrono>

// The Windows launcher: mstsc.exe reads the password from the protected blob in the file, so nothing goes to
// its standard input, and it is started with the one command line it has always been given.

namespace {

constexpr std::chrono::milliseconds kIdleWait{1000};

} // namespace

std::string NoClientText() {
    return "未找到远程桌面客户端 mstsc.exe（Windows 的“远程桌面连接”），没有连接。";
}

std::string NoFileText() {
    return "无法在临时目录中创建连接文件，没有连接。\n请检查 %TEMP% 的权限和剩余空间。";
}

std::string TrustedCertificatesPlace(const std::string&) {
    // mstsc.exe asks before it trusts another certificate, so this is only where it keeps its answers.
    return "注册表 HKEY_CURRENT_USER\\Software\\Microsoft\\Terminal Server Client\\Servers";
}

const std::vector<std::string>& RemoteDesktopClients() {
    static const std::vector<std::string> names{"mstsc.exe"};
    return names;
}

LaunchResult LaunchRemoteDesktop(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk) {
    LaunchResult result;
    if (std::optional<LaunchResult> refused = RefusedLaunch(entry, result.client)) {
        return std::move(*refused);
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

    RecordLocalDevices(entry.host);

    result.commandLine = ClientCommandLine(result.connectionFile, options);
    const Result<void> started = StartCommandLine(result.commandLine, kIdleWait);
    result.outcome = started ? LaunchOutcome::Started : LaunchOutcome::Failed;
    if (!started) {
        result.failure = started.error();
    }
    return result;
}
