#include "support/ModalDialogs.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

constexpr int kPollMs = 10;
constexpr int kPatienceMs = 5000;

QWidget* TopModal() {
    return QApplication::activeModalWidget();
}

void CloseModal(QWidget* widget) {
    if (auto* dialog = qobject_cast<QDialog*>(widget)) {
        dialog->reject();
    } else {
        widget->close();
    }
}

QTimer*& Guard() {
    static QTimer* guard = nullptr;
    return guard;
}

} // namespace

void WhenModal(std::function<void(QWidget*)> action) {
    auto* timer = new QTimer(qApp);
    const QDeadlineTimer deadline(kPatienceMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, deadline, action = std::move(action)] {
        if (QWidget* modal = TopModal(); modal != nullptr && modal->isVisible()) {
            timer->deleteLater();
            timer->stop();
            action(modal);
        } else if (deadline.hasExpired()) {
            timer->deleteLater();
            timer->stop();
            ADD_FAILURE() << "no modal window came up";
        }
    });
    timer->start(kPollMs);
}

void ArmModalGuard() {
    DisarmModalGuard();
    Guard() = new QTimer(qApp);
    QObject::connect(Guard(), &QTimer::timeout, Guard(), [] {
        if (QWidget* modal = TopModal(); modal != nullptr && modal->isVisible()) {
            ADD_FAILURE() << "unexpected modal window " << modal->windowTitle().toStdString();
            CloseModal(modal);
        }
    });
    Guard()->start(kPollMs);
}

void DisarmModalGuard() {
    delete Guard();
    Guard() = nullptr;
}
