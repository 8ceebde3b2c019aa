#include "tools/PingControls.h"

#include "tools/PingConsole.h"
#include "tools/PingOutputBox.h"
#include "tools/PingRulesWindow.h"

#include <QEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>

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

void ShowPingRules(QLineEdit* target) {
    // No owner: the window stays up on its own, also after the page is gone.
    auto* window = new PingRulesWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(window, &PingRulesWindow::QuickInsert, target,
                     [target](const QString& option) { target->setText(target->text() + option); });
    window->show();
}

} // namespace

void BindPingControls(PingConsole& console, const PingControls& controls) {
    QPushButton* button = controls.startStop;
    auto* closeWatch = new CloseWatch(console, button);
    QObject::connect(button, &QPushButton::clicked, &console, [&console, button, closeWatch, target = controls.target] {
        if (button->text() != kStartCaption) {
            console.Stop();
            button->setText(kStartCaption);
            return;
        }
        button->setText(kStopCaption);
        closeWatch->Watch(button->window());
        console.Start(target->text());
    });
    QObject::connect(&console, &PingConsole::Ended, button, [button] { button->setText(kStartCaption); });
    QObject::connect(&console, &PingConsole::Output, controls.output,
                     [output = controls.output](const QString& text) { AppendPingOutput(*output, text); });
    QObject::connect(controls.rules, &QPushButton::clicked, controls.target,
                     [target = controls.target] { ShowPingRules(target); });
}
