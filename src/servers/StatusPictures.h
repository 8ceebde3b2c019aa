#pragma once

#include "servers/ServerEntry.h"

#include <QIcon>
#include <QString>
#include <array>

// The status column's text and state picture for each probe result.
QString StatusText(ServerStatus status);

// The index of the status's picture in the list's three-picture strip: 0 online, 1 offline, 2 unknown.
int StatusPictureIndex(ServerStatus status);

// The strip itself: small 12 x 13 round lamps, green, red and grey.
std::array<QIcon, 3> StatusPictureStrip();
