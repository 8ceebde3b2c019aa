#include "servers/ServerDrop.h"

#include "runtime/GbkQt.h"
#include "runtime/MsgBox.h"
#include "servers/ServerImport.h"
#include "settings/SettingsFile.h"

#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QStringList>
#include <QTimer>
#include <QWidget>
#include <algorithm>

namespace {

// Skipped files named one by one; a drop of hundreds names the first ones and counts the rest.
constexpr qsizetype kNamedSkips = 15;

// Takes the drags and drops of local files on the widget it watches, and leaves every other event alone.
class DropTaker : public QObject {
public:
    DropTaker(QWidget* target, std::function<void(const QList<QUrl>&)> dropped)
        : QObject(target)
        , dropped_(std::move(dropped)) {
        target->setAcceptDrops(true);
        target->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        const QEvent::Type type = event->type();
        if (type != QEvent::DragEnter && type != QEvent::DragMove && type != QEvent::Drop) {
            return QObject::eventFilter(watched, event);
        }
        auto* drop = static_cast<QDropEvent*>(event);
        if (!CarriesLocalFiles(drop->mimeData())) {
            return QObject::eventFilter(watched, event);
        }
        drop->acceptProposedAction();
        if (type == QEvent::Drop) {
            QTimer::singleShot(0, this, [this, urls = drop->mimeData()->urls()] { dropped_(urls); });
        }
        return true;
    }

private:
    std::function<void(const QList<QUrl>&)> dropped_;
};

QString FieldName(ImportField field) {
    switch (field) {
    case ImportField::Host:
        return QStringLiteral("IP/域名");
    case ImportField::Port:
        return QStringLiteral("端口");
    case ImportField::Account:
        break;
    }
    return QStringLiteral("登陆账号");
}

// The editor's words for the same refusals.
QString RefusalText(const ImportedFile& file) {
    const QString box = FieldName(file.field);
    switch (file.problem) {
    case FieldProblem::SeparatorOrLineBreak:
        return QStringLiteral("“%1”中含有“|”或换行").arg(box);
    case FieldProblem::Marker:
        return QStringLiteral("“%1”中含有“#admin:”、“#Start:”或“#LoadinPass:<”").arg(box);
    case FieldProblem::PartCharacter:
        return QStringLiteral("“%1”以不完整的 GBK 字符结尾").arg(box);
    case FieldProblem::ZeroByte:
    case FieldProblem::None:
        break;
    }
    return QStringLiteral("“%1”中有无法保存的字符").arg(box);
}

QString SkipText(const ImportedFile& file) {
    switch (file.skip) {
    case ImportSkip::NotServerFile:
        return QStringLiteral("不是 .rdp 或 .remmina 文件");
    case ImportSkip::NotRdp:
        return QStringLiteral("不是 RDP 连接");
    case ImportSkip::NoAddress:
        return QStringLiteral("没有服务器地址");
    case ImportSkip::Duplicate:
        return QStringLiteral("列表中已有相同主机、端口和账号的服务器");
    case ImportSkip::Refused:
        return RefusalText(file);
    case ImportSkip::BadPort:
        return QStringLiteral("端口“%1”不是 1 到 65535 之间的数字").arg(Gbk::ToQString(file.entry.port));
    case ImportSkip::NotRegularFile:
        return QStringLiteral("不是普通文件");
    case ImportSkip::TooLarge:
        return QStringLiteral("文件过大（超过 %1 KB）").arg(kImportFileLimit >> 10);
    case ImportSkip::Unreadable:
        return QStringLiteral("无法读取");
    case ImportSkip::NotText:
        return QStringLiteral("不是文本文件");
    case ImportSkip::None:
        break;
    }
    return {};
}

// The path as the core's file functions open it: on Linux the system's own bytes for the name, on Windows
// UTF-8, which the core widens for the system's wide-character calls (the ANSI code page cannot hold every
// name).
std::string CorePath(const QString& path) {
#ifdef _WIN32
    return path.toUtf8().toStdString();
#else
    return QFile::encodeName(path).toStdString();
#endif
}

} // namespace

bool CarriesLocalFiles(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) {
        return false;
    }
    const QList<QUrl> urls = data->urls();
    return std::any_of(urls.begin(), urls.end(), [](const QUrl& url) { return url.isLocalFile(); });
}

void AcceptDroppedFiles(QWidget* target, std::function<void(const QList<QUrl>&)> dropped) {
    new DropTaker(target, std::move(dropped));
}

std::vector<ServerList::Id> ImportDroppedFiles(const QList<QUrl>& urls, ServerList& servers, std::size_t room) {
    std::vector<std::string> paths;
    // The names as the message shows them, in the order of the files.
    QStringList names;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            const QString path = url.toLocalFile();
            paths.push_back(CorePath(path));
            names.push_back(QFileInfo(path).fileName());
        }
    }
    std::vector<ImportedFile> files = ImportServerFiles(paths, servers.Entries());

    std::vector<ServerList::Id> added;
    QStringList skipped;
    qsizetype skips = 0;
    for (std::size_t at = 0; at < files.size(); ++at) {
        ImportedFile& file = files[at];
        QString reason = SkipText(file);
        if (file.skip == ImportSkip::None) {
            const std::size_t size = ServerLineSize(file.entry);
            if (size <= room) {
                room -= size;
                added.push_back(servers.Append(std::move(file.entry)));
                continue;
            }
            reason = QStringLiteral("设置文件 ms.ini 将超过 64 MB 的上限");
        }
        if (++skips <= kNamedSkips) {
            skipped.push_back(QStringLiteral("%1：%2").arg(names[static_cast<qsizetype>(at)], reason));
        }
    }
    if (skips > kNamedSkips) {
        skipped.push_back(QStringLiteral("……另有 %1 个").arg(skips - kNamedSkips));
    }

    QString text = QStringLiteral("已添加 %1 台服务器。").arg(added.size());
    if (skips > 0) {
        text += QStringLiteral("\n跳过 %1 个文件：\n").arg(skips) + skipped.join(u'\n');
    }
    if (!added.empty()) {
        text += QStringLiteral("\n\n密码没有导入，请选中服务器后用“修改”填写。");
    }
    MsgBox::Show(text, QStringLiteral("导入服务器"), MsgBox::Buttons::Ok,
                 skips > 0 ? MsgBox::Icon::Warning : MsgBox::Icon::Information);
    return added;
}
