#include "tools/PingConsole.h"

#include "runtime/Gbk.h"
#include "runtime/GbkQt.h"
#include "tools/PingArguments.h"

PingConsole::Command PingConsole::CommandFor(const std::string& typed) {
    Command command;
    command.startFailure = QStringLiteral("无法启动本机的 ping 命令，请确认已经安装（iputils-ping）。\n");
    const PingArguments translated = TranslatePingArguments(typed);
    command.refused = translated.refused;
    if (translated.refused) {
        // The reason goes below the usage, where the box, scrolled to its end, shows it.
        command.notices = Gbk::ToQString(PingUsage());
        for (const std::string& notice : translated.notices) {
            command.notices += QLatin1Char('\n') + Gbk::ToQString(notice) + QLatin1Char('\n');
        }
        return command;
    }
    for (const std::string& notice : translated.notices) {
        command.notices += Gbk::ToQString(notice) + QLatin1Char('\n');
    }
    for (const std::string& argument : translated.arguments) {
        command.arguments.push_back(Gbk::ToUtf8(argument));
    }
    return command;
}
