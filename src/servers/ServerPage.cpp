#include "servers/ServerPage.h"

#include "app/AppState.h"
#include "app/HelpNotice.h"
#include "app/PasswordDialog.h"
#include "settings/SettingsFile.h"
#include "ui/ListViewColumns.h"
#include "ui_ServerPage.h"

ServerPage::ServerPage(AppState& state, QWidget* parent)
    : QWidget(parent)
    , state_(state)
    , ui_(std::make_unique<Ui::ServerPage>()) {
    ui_->setupUi(this);
    ApplyColumnWidths(ui_->超级列表框1);

    ConnectionOptions options = Options();
    ParseSettings(state_.settingsBytes, state_.servers, options);
    SetOptions(options);

    connect(ui_->按钮1, &QPushButton::clicked, this, &ServerPage::OnHelpClicked);
    connect(ui_->按钮_启动密码, &QPushButton::clicked, this, &ServerPage::OnStartupPasswordClicked);
}

ServerPage::~ServerPage() = default;

ConnectionOptions ServerPage::Options() const {
    return {ui_->选择框_admin->isChecked(), ui_->单选框1024768->isChecked()};
}

void ServerPage::SetOptions(const ConnectionOptions& options) {
    ui_->选择框_admin->setChecked(options.forceLogin);
    (options.fullScreen ? ui_->单选框1024768 : ui_->单选框800600)->setChecked(true);
}

void ServerPage::SaveSettings(const std::string& path) const {
    // A failed save is not reported, as before: the old file stays whole, which is all the user needs.
    static_cast<void>(::SaveSettings(state_.servers.Entries(), Options(), state_.startupPassword, path));
}

void ServerPage::OnHelpClicked() {
    ShowHelpNotice();
}

void ServerPage::OnStartupPasswordClicked() {
    PasswordDialog dialog(state_);
    dialog.exec();
}
