#include "runtime/LogQt.h"

#include "runtime/Log.h"

// Nothing below fatal is shown unless the rules ask for it: the program logs nothing by default.
Q_LOGGING_CATEGORY(lcTolvar, "tolvar", QtFatalMsg)

void InstallLog() {
    if (!lcTolvar().isWarningEnabled()) {
        return;
    }
    Log::SetWriter([](std::string_view where, std::string_view what) {
        qCWarning(lcTolvar).noquote() << QString::fromUtf8(where.data(), static_cast<qsizetype>(where.size()))
                                      << QString::fromUtf8(what.data(), static_cast<qsizetype>(what.size()));
    });
}
