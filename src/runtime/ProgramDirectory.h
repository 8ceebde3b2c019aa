#pragma once

#include <string>

// The directory that holds the program's executable, without a trailing separator.
std::string ProgramDirectory();

// The per-user data directory ($XDG_DATA_HOME/tolvar, else ~/.local/share/tolvar), created when missing.
std::string UserDataDirectory();

// The directory the program keeps ms.ini and websc.edb in: the program directory when it is writable,
// else the per-user data directory, so an installed program does not silently lose its settings.
std::string ChooseWorkingDirectory(const std::string& programDirectory = ProgramDirectory());

// Makes ChooseWorkingDirectory() the current directory; false when that failed.
bool EnterWorkingDirectory();
