#pragma once

#include "servers/ServerNotice.h"
#include "servers/ServerWatch.h"

#include <QDateTime>
#include <QString>
#include <vector>

// What the watch tells the user, in words.

// A notice lists at most this many changes; the rest are counted.
inline constexpr std::size_t kNoticeLines = 8;

// The status cell's tooltip: when the entry was last probed and how long its connection took, or since when it
// has been unreachable. Times of another day than `now` carry their date.
QString StatusToolTip(const WatchHistory& history, const QDateTime& now);

// The title and text of one notice for the changes of one batch, oldest first.
QString NoticeSummary(const std::vector<ServerNotice>& notices);
QString NoticeBody(const std::vector<ServerNotice>& notices, const QDateTime& now);
