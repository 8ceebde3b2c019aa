#pragma once

#include <QDialog>
#include <memory>

struct AppState;

namespace Ui {
class PasswordDialog;
}

// Sets or clears the startup password; the change reaches ms.ini at the next save.
class PasswordDialog : public QDialog {
    Q_OBJECT

public:
    explicit PasswordDialog(AppState& state, QWidget* parent = nullptr);
    ~PasswordDialog() override;

private:
    void OnOkClicked();

    AppState& state_;
    std::unique_ptr<Ui::PasswordDialog> ui_;
};
