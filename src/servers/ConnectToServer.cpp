#include "servers/ConnectToServer.h"

#include "runtime/MsgBox.h"
#include "servers/RemoteDesktopLauncher.h"

void ConnectToServer(const ServerEntry& entry, const ConnectionOptions& options, bool localDisk) {
    if (LaunchRemoteDesktop(entry, options, localDisk).outcome == LaunchOutcome::NoClient) {
        MsgBox::Show(QStringLiteral("未找到远程桌面客户端 xfreerdp。\n请先安装 freerdp2-x11 软件包。"),
                     QStringLiteral("连接服务器"), MsgBox::Buttons::Ok, MsgBox::Icon::Warning);
    }
}
