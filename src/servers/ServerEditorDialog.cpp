#include "servers/ServerEditorDialog.h"

#include "runtime/GbkQt.h"
#include "runtime/MsgBox.h"
#include "servers/StorableField.h"
#include "settings/SettingsFile.h"
#include "ui_ServerEditorDialog.h"

#include <QKeyEvent>
#include <optional>

namespace {

// The name a refusal gives a box: its label without the colon.
QString BoxName(const QLabel* label) {
    QString name = label->text();
    while (name.endsWith(u'：') || name.endsWith(u':')) {
        name.chop(1);
    }
    return name;
}

QString ProblemText(const QString& box, FieldProblem problem) {
    switch (problem) {
    case FieldProblem::SeparatorOrLineBreak:
        return QStringLiteral("“%1”中不能含有“|”或换行，请修改后再保存。").arg(box);
    case FieldProblem::Marker:
        return QStringLiteral("“%1”中不能含有“#admin:”、“#Start:”或“#LoadinPass:<”，请修改后再保存。").arg(box);
    case FieldProblem::ZeroByte:
    case FieldProblem::PartCharacter:
    case FieldProblem::None:
        break;
    }
    return QStringLiteral("“%1”中有无法保存的字符，请换用其他字符。").arg(box);
}

// The box's text as it will be stored, or nullopt after telling the user why it cannot be.
std::optional<std::string> StorableText(const QString& typed, const QLabel* label) {
    const std::optional<std::string> text = Gbk::FromQString(typed);
    const FieldProblem problem = text ? ServerFieldProblem(*text) : FieldProblem::ZeroByte;
    if (problem == FieldProblem::None) {
        return text;
    }
    MsgBox::Show(ProblemText(BoxName(label), problem), QStringLiteral("输入出错"), MsgBox::Buttons::Ok,
                 MsgBox::Icon::Error);
    return std::nullopt;
}

} // namespace

ServerEditorDialog::ServerEditorDialog(ServerList& servers, std::size_t editingNumber, QWidget* parent,
                                       std::size_t room)
    : QDialog(parent)
    , servers_(servers)
    , editingNumber_(editingNumber)
    , room_(room)
    , ui_(std::make_unique<Ui::ServerEditorDialog>()) {
    ui_->setupUi(this);
    connect(ui_->按钮1, &QPushButton::clicked, this, &ServerEditorDialog::OnConfirmClicked);
    connect(ui_->按钮2, &QPushButton::clicked, this, &ServerEditorDialog::reject);
    ui_->编辑框_备注->installEventFilter(this);

    if (editingNumber_ < 1) {
        return;
    }
    if (const std::optional<ServerEntry> entry = servers_.EntryAt(editingNumber_)) {
        ui_->编辑框_域名->setText(Gbk::ToQString(entry->host));
        ui_->编辑框_端口->setText(Gbk::ToQString(entry->port));
        ui_->编辑框_账号->setText(Gbk::ToQString(entry->account));
        ui_->编辑框_密码->setText(Gbk::ToQString(entry->password));
        ui_->编辑框_备注->setPlainText(Gbk::ToQString(entry->note));
    }
    // Two lines, as the cancel button has, since the caption is wider than the button.
    ui_->按钮1->setText(QStringLiteral("修 改 列 表\n(EDIT LIST)"));
    setWindowTitle(QStringLiteral("修改服务器列表"));
}

ServerEditorDialog::~ServerEditorDialog() {
    // The note box outlives the form's members while the widget tree is torn down.
    ui_->编辑框_备注->removeEventFilter(this);
}

bool ServerEditorDialog::eventFilter(QObject* watched, QEvent* event) {
    // A note is one line in ms.ini, so Return in the note box confirms the dialog as it does in the other boxes
    // instead of starting a line the confirm step would refuse.
    if (watched == ui_->编辑框_备注 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ui_->按钮1->click();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ServerEditorDialog::OnConfirmClicked() {
    ServerEntry entry;
    const std::pair<QString, std::string*> boxes[] = {
        {ui_->编辑框_域名->text(), &entry.host},        {ui_->编辑框_端口->text(), &entry.port},
        {ui_->编辑框_账号->text(), &entry.account},     {ui_->编辑框_密码->text(), &entry.password},
        {ui_->编辑框_备注->toPlainText(), &entry.note},
    };
    const QLabel* labels[] = {ui_->标签1, ui_->标签2, ui_->标签3, ui_->标签4, ui_->标签5};
    for (std::size_t box = 0; box < std::size(boxes); ++box) {
        std::optional<std::string> text = StorableText(boxes[box].first, labels[box]);
        if (!text) {
            return;
        }
        *boxes[box].second = std::move(*text);
    }
    const std::optional<ServerEntry> old = editingNumber_ < 1 ? std::nullopt : servers_.EntryAt(editingNumber_);
    const std::size_t freed = old ? ServerLineSize(*old) : 0;
    // Compared as growth, since the room may be as large as a size can be.
    const std::size_t needed = ServerLineSize(entry);
    if (needed > freed && needed - freed > room_) {
        MsgBox::Show(QStringLiteral("设置文件 ms.ini 将超过 64 MB 的上限，之后无法读回，这项更改没有保存。\n"
                                    "请删减服务器列表或备注后再试。"),
                     QStringLiteral("输入出错"), MsgBox::Buttons::Ok, MsgBox::Icon::Error);
        return;
    }
    if (editingNumber_ < 1) {
        servers_.Append(std::move(entry));
    } else {
        servers_.Replace(editingNumber_, entry);
    }
    accept();
}
