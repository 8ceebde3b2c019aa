#include "tools/NetToolsPage.h"

#include "tools/PingControls.h"
#include "ui_NetToolsPage.h"

NetToolsPage::NetToolsPage(QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::NetToolsPage>()) {
    ui_->setupUi(this);
    BindPingControls(pingConsole_, {ui_->按钮3, ui_->按钮2, ui_->编辑框1, ui_->编辑框2});
}

NetToolsPage::~NetToolsPage() = default;
