#include "tools/PingRulesWindow.h"

#include "runtime/GbkQt.h"
#include "tools/PingArguments.h"
#include "tools/PingOutputBox.h"
#include "ui_PingRulesWindow.h"

#include <QKeySequence>
#include <QShortcut>

PingRulesWindow::PingRulesWindow(QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::PingRulesWindow>()) {
    ui_->setupUi(this);
    // The same text answers a refused ping line in the output box, so it is kept in one place.
    ui_->编辑框1->setPlainText(Gbk::ToQString(PingUsage()));
    ui_->编辑框1->setFont(ConsoleFont(ui_->编辑框1->font()));
    connect(ui_->按钮1, &QPushButton::clicked, this, [this] { Insert(QStringLiteral(" -t")); });
    connect(ui_->按钮2, &QPushButton::clicked, this, [this] { Insert(QStringLiteral(" -a")); });
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);
}

PingRulesWindow::~PingRulesWindow() = default;

void PingRulesWindow::Insert(const QString& option) {
    Q_EMIT QuickInsert(option);
    close();
}
