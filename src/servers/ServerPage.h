#pragma once

#include "settings/ConnectionOptions.h"

#include <QWidget>
#include <memory>
#include <string>

struct AppState;

namespace Ui {
class ServerPage;
}

// The server manager page, embedded over the main window's first tab page once the gate is passed.
class ServerPage : public QWidget {
    Q_OBJECT

public:
    // Loads the server list and the stored options from the settings bytes, as the page is created.
    explicit ServerPage(AppState& state, QWidget* parent = nullptr);
    ~ServerPage() override;

    // The stored options as the page's controls show them.
    ConnectionOptions Options() const;

    // Rebuilds the settings file at `path` from the live list, the options and the startup password.
    void SaveSettings(const std::string& path) const;

private:
    void SetOptions(const ConnectionOptions& options);
    void OnHelpClicked();
    void OnStartupPasswordClicked();

    AppState& state_;
    std::unique_ptr<Ui::ServerPage> ui_;
};
