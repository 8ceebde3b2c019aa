#include "tools/PingRulesWindow.h"

#include "ui_PingRulesWindow.h"

PingRulesWindow::PingRulesWindow(QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::PingRulesWindow>()) {
    ui_->setupUi(this);
}

PingRulesWindow::~PingRulesWindow() = default;
