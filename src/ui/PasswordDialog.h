#pragma once

#include <QDialog>
#include <cstddef>
#include <cstdint>
#include <memory>

#include <string>

namespace Ui {
class PasswordDialog;
}

// Sets or clears the startup password.
class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    // Changes `startupPassword` when the dialog is confirmed; a password longer than the old one by more than
    // `room` bytes is refused, as ms.ini could not be read back.
    explicit PasswordDialog(std::string& startupPassword, QWidget* parent = nullptr, std::size_t room = SIZE_MAX);
    ~PasswordDialog() override;

private:
    void OnOkClicked();

    std::string& startupPassword_;
    std::size_t room_;
    std::unique_ptr<Ui::PasswordDialog> ui_;
};
