#include "servers/ServerEditorDialog.h"

#include "ui_ServerEditorDialog.h"

ServerEditorDialog::ServerEditorDialog(QWidget* parent)
    : QDialog(parent)
    , ui_(std::make_unique<Ui::ServerEditorDialog>()) {
    ui_->setupUi(this);
}

ServerEditorDialog::~ServerEditorDialog() = default;
