#pragma once

#include "servers/ServerList.h"

#include <QDialog>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace Ui {
class ServerEditorDialog;
}

// Adds or edits one server entry.
class ServerEditorDialog : public QDialog {
    Q_OBJECT

public:
    // Adds a new entry to `servers` when `editingNumber` is 0, else edits the entry of that number. A change
    // that would grow the settings text by more than `room` bytes is refused, as ms.ini could not be read back.
    ServerEditorDialog(ServerList& servers, std::size_t editingNumber, QWidget* parent = nullptr,
                       std::size_t room = SIZE_MAX);
    ~ServerEditorDialog() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnConfirmClicked();

    ServerList& servers_;
    std::size_t editingNumber_;
    std::size_t room_;
    std::unique_ptr<Ui::ServerEditorDialog> ui_;
};
