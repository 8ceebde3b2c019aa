#include "tools/PingControls.h"

#include "tools/PingConsole.h"
#include "tools/PingOutputBox.h"
#include "tools/PingRulesWindow.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

namespace {

const QString kStartCaption = QStringLiteral("开始Ping");
const QString kStopCaption = QStringLiteral("停止");

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
    QObject::connect(button, &QPushButton::clicked, &console, [&console, button, target = controls.target] {
        if (button->text() != kStartCaption) {
            console.Stop();
            button->setText(kStartCaption);
            return;
        }
        button->setText(kStopCaption);
        console.Start(target->text());
    });
    QObject::connect(&console, &PingConsole::Ended, button, [button] { button->setText(kStartCaption); });
    QObject::connect(&console, &PingConsole::Output, controls.output,
                     [output = controls.output](const QString& text) { AppendPingOutput(*output, text); });
    QObject::connect(controls.rules, &QPushButton::clicked, controls.target,
                     [target = controls.target] { ShowPingRules(target); });
}
