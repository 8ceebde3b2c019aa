#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class ServerEditorDialog;
}

// Adds or edits one server entry.
class ServerEditorDialog : public QDialog {
    Q_OBJECT

public:
    explicit ServerEditorDialog(QWidget* parent = nullptr);
    ~ServerEditorDialog() override;

private:
    std::unique_ptr<Ui::ServerEditorDialog> ui_;
};
