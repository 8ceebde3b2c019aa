#pragma once

class PingConsole;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

// The network tools page's controls that the ping console works with.
struct PingControls {
    QPushButton* startStop; // "开始Ping" while idle, "停止" while a run is going
    QPushButton* rules;     // opens the ping rules window
    QLineEdit* target;      // the text put behind "ping "
    QPlainTextEdit* output; // the console only ever appends to it
};

// Binds the controls to `console`, which must not outlive them: the start/stop button decides by its caption,
// the rules button opens a rules window of its own, and the console's text goes to the output box.
void BindPingControls(PingConsole& console, const PingControls& controls);
