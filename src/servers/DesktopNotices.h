#pragma once

#include <QObject>
#include <QString>

// The desktop's way of showing a short notice beside the windows, and of saying which one the user clicked.
class DesktopNotices : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // Shows a notice; `token` comes back through Clicked when the user clicks it.
    virtual void Show(const QString& summary, const QString& body, quint64 token) = 0;

Q_SIGNALS:
    void Clicked(quint64 token);
    // The desktop turned out to have no way of showing notices: what was handed over is lost.
    void Unavailable();
};
