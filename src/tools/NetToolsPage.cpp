#include "tools/NetToolsPage.h"

#include "ui_NetToolsPage.h"

NetToolsPage::NetToolsPage(QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::NetToolsPage>()) {
    ui_->setupUi(this);
}

NetToolsPage::~NetToolsPage() = default;
