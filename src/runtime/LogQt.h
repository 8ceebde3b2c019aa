#pragma once

#include <QLoggingCategory>

// The program's logging category, silent unless QT_LOGGING_RULES turns it on ("tolvar.warning=true").
Q_DECLARE_LOGGING_CATEGORY(lcTolvar)

// Hands the core's failures to the category, when it is on.
void InstallLog();
