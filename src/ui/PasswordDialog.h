#pragma once

#include <QDialog>
#include <memory>

#include <string>

namespace Ui {
class PasswordDialog;
}

// Sets or clears the startup password; the change reaches ms.ini at the next save.
class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    // Changes `startupPassword` when the dialog is confirmed.
    explicit PasswordDialog(std::string& startupPassword, QWidget* parent = nullptr);
    ~PasswordDialog() override;

private:
    void OnOkClicked();

    std::string& startupPassword_;
    std::unique_ptr<Ui::PasswordDialog> ui_;
};
