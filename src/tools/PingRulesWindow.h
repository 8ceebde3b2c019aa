#pragma once

#include <QWidget>
#include <memory>

namespace Ui {
class PingRulesWindow;
}

// The ping usage text with two quick-insert buttons; a window of its own, without owner.
class PingRulesWindow : public QWidget {
    Q_OBJECT

public:
    explicit PingRulesWindow(QWidget* parent = nullptr);
    ~PingRulesWindow() override;

private:
    std::unique_ptr<Ui::PingRulesWindow> ui_;
};
