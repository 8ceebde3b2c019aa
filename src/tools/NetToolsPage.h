#pragma once

#include "tools/PingConsole.h"

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

namespace Ui {
class NetToolsPage;
}
class PageFetcher;

// The network tools page (ping console and IP lookup), embedded over the main window's second tab page.
class NetToolsPage : public QWidget {
    Q_OBJECT

public:
    explicit NetToolsPage(QWidget* parent = nullptr);
    ~NetToolsPage() override;

    // The local IPv4 addresses found when the page was created.
    const std::vector<std::string>& LocalAddresses() const { return localAddresses_; }
    // The two lookup page fetchers, so tests can shorten their time limits.
    PageFetcher* OwnAddressFetcher() const { return ownAddressFetch_; }
    PageFetcher* LookupFetcher() const { return lookupFetch_; }

private:
    void ShowOwnAddress();
    void Lookup();

    std::unique_ptr<Ui::NetToolsPage> ui_;
    // Declared after ui_ so that it goes first, ending any run before the controls it writes to.
    PingConsole pingConsole_;
    std::vector<std::string> localAddresses_;
    PageFetcher* ownAddressFetch_;
    PageFetcher* lookupFetch_;
};
