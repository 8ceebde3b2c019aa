#include "tools/PingControls.h"

#include "tools/PingConsole.h"
#include "tools/PingOutputBox.h"
#include "tools/PingRulesWindow.h"

#include <QEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <functional>

namespace {

const QString kStartCaption = QStringLiteral("开始Ping");
const QString kStopCaption = QStringLiteral("停止");

// Ends the run when the window showing the console is closed, even while the program goes on (a rules window
// still open keeps it running), so no ping keeps going unseen.
class CloseWatch : public QObject {
public:
    CloseWatch(PingConsole& console, QPushButton* button)
        : QObject(&console)
        , console_(console)
        , button_(button) {}

    // The page may have been moved into another window since the last run, so this is done at every start.
    void Watch(QWidget* window) {
        if (window != watched_) {
            if (watched_ != nullptr) {
                watched_->removeEventFilter(this);
            }
            watched_ = window;
            watched_->installEventFilter(this);
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Close && console_.IsRunning()) {
            console_.Stop();
            button_->setText(kStartCaption);
        }
        return QObject::eventFilter(watched, event);
    }

private:
    PingConsole& console_;
    QPushButton* button_;
    QPointer<QWidget> watched_;
};

// An X server reports Ctrl+Pause as the keysym Break, which Qt has no key for; Windows reports Key_Cancel.
constexpr quint32 kXkbBreak = 0xff6b;

// The console's keys in the output box, as a Windows console takes them: Ctrl+C stops the run (copying instead
// when text is selected, as the Windows console and terminal do, so copying with the keys people use still
// works), and Ctrl+Break has the ping show its statistics so far.
class ConsoleKeys : public QObject {
public:
    // Owned by the console, so it goes with it, and the box may outlive both.
    ConsoleKeys(PingConsole& console, QPlainTextEdit* output, std::function<void()> stop)
        : QObject(&console)
        , console_(console)
        , output_(output)
        , stop_(std::move(stop)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride) {
            return QObject::eventFilter(watched, event);
        }
        auto* key = static_cast<QKeyEvent*>(event);
        const bool control = key->modifiers() == Qt::ControlModifier;
        const bool interrupt =
            control && key->key() == Qt::Key_C && !output_->textCursor().hasSelection() && console_.IsRunning();
        const bool brk = key->nativeVirtualKey() == kXkbBreak ||
                         (control && (key->key() == Qt::Key_Pause || key->key() == Qt::Key_Cancel));
        if (!interrupt && !brk) {
            return QObject::eventFilter(watched, event);
        }
        // Claimed before any shortcut of the window can take it, and acted on when the key itself arrives.
        event->accept();
        if (event->type() == QEvent::KeyPress) {
            if (interrupt) {
                stop_();
            } else {
                console_.ShowStatistics();
            }
        }
        return true;
    }

private:
    PingConsole& console_;
    QPlainTextEdit* output_;
    std::function<void()> stop_;
};

void ShowPingRules(QLineEdit* target) {
    // No owner: the window stays up on its own, also after the page is gone.
    auto* window = new PingRulesWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &PingRulesWindow::QuickInsert, target,
                     [target](const QString& option) { target->setText(target->text() + option); });
    // Without an owner the system would put it in a corner of the screen: centred on the window it came from
    // (client areas, since the frames are not known before it is shown), kept on that window's screen.
    const QWidget* from = target->window();
    QRect placed(QPoint(), window->size());
    placed.moveCenter(from->geometry().center());
    if (const QScreen* screen = from->screen()) {
        const QRect room = screen->availableGeometry();
        placed.moveLeft(std::max(room.left(), std::min(placed.left(), room.right() + 1 - placed.width())));
        placed.moveTop(std::max(room.top(), std::min(placed.top(), room.bottom() + 1 - placed.height())));
    }
    window->setGeometry(placed);
    window->show();
}

} // namespace

void BindPingControls(PingConsole& console, const PingControls& controls) {
    QPushButton* button = controls.startStop;
    auto* closeWatch = new CloseWatch(console, button);
    const auto stop = [&console, button] {
        console.Stop();
        button->setText(kStartCaption);
    };
    QObject::connect(button, &QPushButton::clicked, &console,
                     [&console, button, closeWatch, stop, target = controls.target] {
                         if (button->text() != kStartCaption) {
                             stop();
                             return;
                         }
                         button->setText(kStopCaption);
                         closeWatch->Watch(button->window());
                         console.Start(target->text());
                     });
    QObject::connect(&console, &PingConsole::Ended, button, [button] { button->setText(kStartCaption); });
    QObject::connect(&console, &PingConsole::Output, controls.output,
                     [output = controls.output](const QString& text) { AppendPingOutput(*output, text); });
    controls.output->installEventFilter(new ConsoleKeys(console, controls.output, stop));
    // The box also shows the usage text, whose columns need a fixed pitch as much as the ping's own output does.
    controls.output->setFont(ConsoleFont(controls.output->font()));
    QObject::connect(controls.rules, &QPushButton::clicked, controls.target,
                     [target = controls.target] { ShowPingRules(target); });
}
