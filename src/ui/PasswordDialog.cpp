#include "ui/PasswordDialog.h"

#include "runtime/GbkQt.h"
#include "runtime/MsgBox.h"
#include "settings/SettingsFile.h"
#include "ui_PasswordDialog.h"

namespace {

void ShowInputError(const QString& text) {
    MsgBox::Show(text, QStringLiteral("输入出错"), MsgBox::Buttons::Ok, MsgBox::Icon::Error);
}

} // namespace

PasswordDialog::PasswordDialog(std::string& startupPassword, QWidget* parent, std::size_t room)
    : QDialog(parent)
    , startupPassword_(startupPassword)
    , room_(room)
    , ui_(std::make_unique<Ui::PasswordDialog>()) {
    ui_->setupUi(this);
    connect(ui_->按钮1, &QPushButton::clicked, this, &PasswordDialog::OnOkClicked);
    connect(ui_->按钮2, &QPushButton::clicked, this, &PasswordDialog::reject);
}

PasswordDialog::~PasswordDialog() = default;

void PasswordDialog::OnOkClicked() {
    if (ui_->编辑框1->text() != ui_->编辑框2->text()) {
        ShowInputError(QStringLiteral("两次密码必须相同"));
        return;
    }
    if (!ui_->编辑框1->text().isEmpty()) {
        const std::optional<std::string> password = Gbk::FromQString(ui_->编辑框1->text());
        if (!password) {
            ShowInputError(QStringLiteral("密码中有无法保存的字符，请换用其他字符"));
            return;
        }
        if (!IsStorableStartupPassword(*password)) {
            ShowInputError(QStringLiteral("密码不能含有“>”或“#Start:”，也不能含有两个或更多的“|”"));
            return;
        }
        if (password->size() > startupPassword_.size() + room_) {
            ShowInputError(QStringLiteral("设置文件 ms.ini 将超过 64 MB 的上限，之后无法读回，密码没有保存"));
            return;
        }
        startupPassword_ = *password;
        accept();
        return;
    }
    if (MsgBox::Show(QStringLiteral("您确定要清空密码吗？"), QStringLiteral("提示"), MsgBox::Buttons::YesNo,
                     MsgBox::Icon::Information) == MsgBox::Result::Yes) {
        startupPassword_.clear();
        accept();
    }
}
