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

Q_SIGNALS:
    // A quick-insert button was clicked: `option` (" -t" or " -a") is to be appended to the target box. The
    // window closes right after.
    void QuickInsert(const QString& option);

private:
    void Insert(const QString& option);

    std::unique_ptr<Ui::PingRulesWindow> ui_;
};
