#include "servers/WatchTexts.h"

#include <QStringList>

namespace {

QDateTime ToDateTime(std::chrono::system_clock::time_point at) {
    return QDateTime::fromMSecsSinceEpoch(
        std::chrono::duration_cast<std::chrono::milliseconds>(at.time_since_epoch()).count());
}

QString When(const QDateTime& at, const QDateTime& now) {
    return at.toString(at.date() == now.date() ? QStringLiteral("HH:mm:ss") : QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

// Loopback and LAN answers take well under a millisecond, so short times keep a decimal.
QString Duration(std::chrono::microseconds time) {
    if (time < std::chrono::milliseconds{10}) {
        return QString::number(static_cast<double>(time.count()) / 1000.0, 'f', 1);
    }
    return QString::number(std::chrono::duration_cast<std::chrono::milliseconds>(time).count());
}

} // namespace

QString StatusToolTip(const WatchHistory& history, const QDateTime& now) {
    const QString probed = QStringLiteral("上次检测 %1").arg(When(ToDateTime(history.lastProbe), now));
    if (history.last == ServerStatus::Online) {
        return probed + QStringLiteral("，连接用时 %1 ms").arg(Duration(history.connectTime));
    }
    return probed + QStringLiteral("，自 %1 起无法连接").arg(When(ToDateTime(history.unreachableSince), now));
}

QString NoticeSummary(const std::vector<ServerNotice>& notices) {
    if (notices.size() == 1) {
        return notices.front().online ? QStringLiteral("服务器恢复在线") : QStringLiteral("服务器离线");
    }
    return QStringLiteral("%1 台服务器状态变化").arg(notices.size());
}

QString NoticeBody(const std::vector<ServerNotice>& notices, const QDateTime& now) {
    QStringList lines;
    for (std::size_t at = 0; at < notices.size() && at < kNoticeLines; ++at) {
        const ServerNotice& notice = notices[at];
        QString line =
            QStringLiteral("%1 %2：%3:%4")
                .arg(When(notice.at, now), notice.online ? QStringLiteral("恢复在线") : QStringLiteral("离线"),
                     notice.host, notice.port);
        if (!notice.noteLine.isEmpty()) {
            line += QStringLiteral("  ") + notice.noteLine;
        }
        lines.push_back(line);
    }
    if (notices.size() > kNoticeLines) {
        lines.push_back(QStringLiteral("……另有 %1 项").arg(notices.size() - kNoticeLines));
    }
    return lines.join(u'\n');
}
