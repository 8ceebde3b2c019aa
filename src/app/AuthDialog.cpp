#include "app/AuthDialog.h"

#include "app/AppState.h"
#include "runtime/EndProgram.h"
#include "runtime/GbkQt.h"
#include "runtime/MsgBox.h"
#include "ui_AuthDialog.h"

AuthDialog::AuthDialog(AppState& state, QWidget* parent)
    : QDialog(parent)
    , state_(state)
    , ui_(std::make_unique<Ui::AuthDialog>()) {
    ui_->setupUi(this);
    connect(ui_->按钮1, &QPushButton::clicked, this, &AuthDialog::OnOkClicked);
    connect(ui_->按钮2, &QPushButton::clicked, this, &AuthDialog::OnCancelClicked);
}

AuthDialog::~AuthDialog() = default;

void AuthDialog::OnOkClicked() {
    // A character GBK cannot hold can never match the stored password.
    const std::optional<std::string> typed = Gbk::FromQString(ui_->编辑框1->text());
    if (typed && !typed->empty() && *typed == state_.startupPassword) {
        state_.unlocked = true;
        accept();
        return;
    }
    MsgBox::Show(QStringLiteral("密码错误"), QStringLiteral("错误"), MsgBox::Buttons::Ok, MsgBox::Icon::Error);
    ui_->编辑框1->clear();
}

void AuthDialog::OnCancelClicked() {
    EndProgram(0);
}
