#pragma once

#include "servers/ServerList.h"

#include <QList>
#include <QUrl>
#include <cstddef>
#include <functional>
#include <vector>

class QMimeData;
class QWidget;

// Server lists dropped onto the server page: connection files and Remmina profiles from other tools.

// Whether a drag carries files of this machine, the only thing the list takes.
bool CarriesLocalFiles(const QMimeData* data);

// Lets `target` take drops of local files, handing their addresses to `dropped` from the event loop once the
// drop has ended, so that a message the import shows never runs inside the drag source's own drop handling.
void AcceptDroppedFiles(QWidget* target, std::function<void(const QList<QUrl>&)> dropped);

// Adds the servers of the dropped files to the end of `servers`, growing the settings text by at most `room`
// bytes, and tells the user in one message what became of every file. The ids of the new entries, in order.
std::vector<ServerList::Id> ImportDroppedFiles(const QList<QUrl>& urls, ServerList& servers, std::size_t room);
