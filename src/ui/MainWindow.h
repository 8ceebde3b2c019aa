#pragma once

#include "bookmarks/BookmarkStore.h"

#include <QWidget>
#include <functional>
#include <memory>

class BookmarkList;

namespace Ui {
class AboutPage;
class BookmarkPage;
class MainWindow;
} // namespace Ui

// The main window: a four-page tab control; the server page and the network tools page are embedded over
// pages 1 and 2 once the startup gate is passed. The bookmark and about pages, hidden at the start, get their
// controls once the window has been drawn, or at once when their tab is chosen before.
class MainWindow : public QWidget {
    Q_OBJECT

public:
    // `bookmarks` is the bookmark file; by default websc.edb in the current directory.
    explicit MainWindow(BookmarkStore bookmarks = {}, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Takes both pages as borderless children and places them over their tab pages.
    void EmbedPages(QWidget* serverPage, QWidget* netToolsPage);
    // The same, with the network tools page made by `makeNetToolsPage` only once the window has been drawn with
    // the server page, or at once when its tab is chosen before: its own-address lookup then cannot hold up the
    // server list's first paint.
    void EmbedPages(QWidget* serverPage, std::function<QWidget*()> makeNetToolsPage);

Q_SIGNALS:
    // The window is going away: the last moment to save what it shows.
    void AboutToBeDestroyed();

protected:
    void paintEvent(QPaintEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnTabChanged(int page);
    void EmbedNetToolsPage();
    void BuildHiddenPages();

    std::unique_ptr<Ui::MainWindow> ui_;
    std::unique_ptr<Ui::BookmarkPage> bookmarkUi_;
    std::unique_ptr<Ui::AboutPage> aboutUi_;
    QWidget* serverPage_ = nullptr;
    QWidget* netToolsPage_ = nullptr;
    std::function<QWidget*()> makeNetToolsPage_;
    BookmarkList* bookmarks_ = nullptr;
    bool painted_ = false;
    bool netToolsPageDue_ = false;
};
