#pragma once

#include <QtGlobal>

class QFont;
class QPlainTextEdit;
class QString;

// The ping output box keeps at least this many of the newest characters; beyond a quarter more it drops whole
// lines from the top, so a run left going for days does not grow the box without limit.
inline constexpr int kPingOutputKept = 1 << 20;

// Appends `text` at the end of the box, as it came (no line splitting), and scrolls the end into view.
void AppendPingOutput(QPlainTextEdit& box, const QString& text);

// A fixed-pitch face at the size of `like`, for console text, which lines its columns up with blanks. Chinese
// characters fall back to whichever Chinese font is installed; only what comes before them needs the fixed pitch.
QFont ConsoleFont(const QFont& like);
