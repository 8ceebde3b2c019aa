#pragma once

#include "tools/PingConsole.h"

#include <QWidget>
#include <memory>

namespace Ui {
class NetToolsPage;
}

// The network tools page (ping console and IP lookup), embedded over the main window's second tab page.
class NetToolsPage : public QWidget {
    Q_OBJECT

public:
    explicit NetToolsPage(QWidget* parent = nullptr);
    ~NetToolsPage() override;

private:
    std::unique_ptr<Ui::NetToolsPage> ui_;
    // Declared after ui_ so that it goes first, ending any run before the controls it writes to.
    PingConsole pingConsole_;
};
