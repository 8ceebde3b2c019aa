#include "tools/PingRulesWindow.h"

#include "ui_PingRulesWindow.h"

PingRulesWindow::PingRulesWindow(QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::PingRulesWindow>()) {
    ui_->setupUi(this);
    connect(ui_->按钮1, &QPushButton::clicked, this, [this] { Insert(QStringLiteral(" -t")); });
    connect(ui_->按钮2, &QPushButton::clicked, this, [this] { Insert(QStringLiteral(" -a")); });
}

PingRulesWindow::~PingRulesWindow() = default;

void PingRulesWindow::Insert(const QString& option) {
    Q_EMIT QuickInsert(option);
    close();
}
