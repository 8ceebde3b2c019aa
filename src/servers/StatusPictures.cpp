#include "servers/StatusPictures.h"

#include <QPainter>
#include <QPixmap>

namespace {

constexpr int kWidth = 12;
constexpr int kHeight = 13;

QPixmap DrawLamp(const QColor& fill, const QColor& rim) {
    QPixmap picture(kWidth, kHeight);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(rim, 1));
    QRadialGradient shine(QPointF(4.5, 4.5), 7);
    shine.setColorAt(0, fill.lighter(170));
    shine.setColorAt(1, fill);
    painter.setBrush(shine);
    painter.drawEllipse(QRectF(1.5, 2, 9, 9));
    return picture;
}

} // namespace

QString StatusText(ServerStatus status) {
    switch (status) {
    case ServerStatus::Online:
        return QStringLiteral("在线");
    case ServerStatus::Offline:
        return QStringLiteral("离线");
    case ServerStatus::Unknown:
        break;
    }
    return QStringLiteral("...");
}

int StatusPictureIndex(ServerStatus status) {
    return static_cast<int>(status) - 1;
}

std::array<QIcon, 3> StatusPictureStrip() {
    return {
        QIcon(DrawLamp(QColor(0x1E, 0xA0, 0x32), QColor(0x0B, 0x5E, 0x1A))),
        QIcon(DrawLamp(QColor(0xD2, 0x2B, 0x22), QColor(0x7A, 0x12, 0x0E))),
        QIcon(DrawLamp(QColor(0xA8, 0xA8, 0xA8), QColor(0x6A, 0x6A, 0x6A))),
    };
}
