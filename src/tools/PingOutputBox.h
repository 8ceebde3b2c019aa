#pragma once

#include <QtGlobal>

class QPlainTextEdit;
class QString;

// The ping output box keeps at least this many of the newest characters; beyond a quarter more it drops whole
// lines from the top, so a run left going for days does not grow the box without limit.
inline constexpr int kPingOutputKept = 1 << 20;

// Appends `text` at the end of the box, as it came (no line splitting), and scrolls the end into view.
void AppendPingOutput(QPlainTextEdit& box, const QString& text);
