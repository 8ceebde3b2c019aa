#pragma once

#include <string>

// Writes a settings file with `servers` entries, all at 127.0.0.1:`port`, and a bookmark file with `bookmarks`
// records into `directory`; either count may be 0, which leaves that file out. False when a file cannot be
// written.
bool WriteStartupFiles(const std::string& directory, int servers, int bookmarks, unsigned port);
