#pragma once

#include <QDateTime>
#include <QString>
#include <QtGlobal>

// An entry that was online went offline, or came back: what the user is told, taken when it happened so that
// an edit or a delete before the notice goes out changes nothing in it.
struct ServerNotice {
    quint64 id = 0;
    bool online = false;
    QString host;
    QString port;
    // The first line of the entry's note.
    QString noteLine;
    QDateTime at;
};
