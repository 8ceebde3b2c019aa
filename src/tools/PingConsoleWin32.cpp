#include "tools/PingConsole.h"

#include "runtime/Gbk.h"

PingConsole::Command PingConsole::CommandFor(const std::string& typed) {
    // The Windows ping reads the options the rules window documents itself: the text goes to it as typed, and the
    // ping's own usage answers a line it cannot take.
    Command command;
    command.arguments.push_back(Gbk::ToUtf8(typed));
    command.printsGbk = true;
    command.startFailure = QStringLiteral("无法启动 ping 命令。\n");
    return command;
}
