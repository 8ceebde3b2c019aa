#pragma once

#include <QDialog>
#include <memory>

struct AppState;

namespace Ui {
class AuthDialog;
}

// Asks for the startup password; the right one sets the unlocked flag, "取消(NO)" ends the program.
class AuthDialog : public QDialog {
    Q_OBJECT

public:
    explicit AuthDialog(AppState& state, QWidget* parent = nullptr);
    ~AuthDialog() override;

private:
    void OnOkClicked();
    void OnCancelClicked();

    AppState& state_;
    std::unique_ptr<Ui::AuthDialog> ui_;
};
