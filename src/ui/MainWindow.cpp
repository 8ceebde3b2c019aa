#include "ui/MainWindow.h"

#include "bookmarks/BookmarkList.h"
#include "ui/ListViewColumns.h"
#include "ui_AboutPage.h"
#include "ui_BookmarkPage.h"
#include "ui_MainWindow.h"

#include <QCloseEvent>
#include <QFocusEvent>
#include <QTimer>
#include <utility>

namespace {

// Page rectangles in the main window's client area.
constexpr QRect kServerPageRect(1, 40, 600, 500);
constexpr QRect kNetToolsPageRect(5, 40, 700, 500);

} // namespace

MainWindow::MainWindow(BookmarkStore bookmarks, QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::MainWindow>()) {
    ui_->setupUi(this);
    connect(ui_->高级选择夹1, &QTabWidget::currentChanged, this, &MainWindow::OnTabChanged);
    bookmarks_ = new BookmarkList(std::move(bookmarks), this);
}

MainWindow::~MainWindow() = default;

void MainWindow::EmbedPages(QWidget* serverPage, QWidget* netToolsPage) {
    EmbedPages(serverPage, [netToolsPage] { return netToolsPage; });
    EmbedNetToolsPage();
}

void MainWindow::EmbedPages(QWidget* serverPage, std::function<QWidget*()> makeNetToolsPage) {
    makeNetToolsPage_ = std::move(makeNetToolsPage);
    serverPage_ = serverPage;
    serverPage_->setParent(this, Qt::Widget);
    serverPage_->setGeometry(kServerPageRect);
    serverPage_->show();
    OnTabChanged(ui_->高级选择夹1->currentIndex());
}

void MainWindow::EmbedNetToolsPage() {
    if (!makeNetToolsPage_) {
        return;
    }
    netToolsPage_ = std::exchange(makeNetToolsPage_, nullptr)();
    netToolsPage_->setParent(this, Qt::Widget);
    netToolsPage_->setGeometry(kNetToolsPageRect);
    netToolsPage_->setVisible(ui_->高级选择夹1->currentIndex() == 1);
}

void MainWindow::BuildHiddenPages() {
    if (bookmarkUi_ != nullptr) {
        return;
    }
    bookmarkUi_ = std::make_unique<Ui::BookmarkPage>();
    bookmarkUi_->setupUi(ui_->选择夹页3);
    aboutUi_ = std::make_unique<Ui::AboutPage>();
    aboutUi_->setupUi(ui_->选择夹页4);
    // Controls added to a page already on screen stay hidden unless shown; on a hidden page this only lets them
    // appear with it.
    for (QWidget* page : {ui_->选择夹页3, ui_->选择夹页4}) {
        for (QWidget* control : page->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            control->show();
        }
    }
    ApplyColumnWidths(bookmarkUi_->超级列表框1);
    bookmarkUi_->编辑框1->installEventFilter(this);
    bookmarkUi_->编辑框4->installEventFilter(this);
    bookmarks_->Attach(bookmarkUi_->超级列表框1, bookmarkUi_->编辑框1, bookmarkUi_->编辑框4, bookmarkUi_->按钮1);
}

void MainWindow::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    // What the first paint does not show comes once it is on screen: the hidden pages are built and the bookmark
    // file read, and the network tools page made, after the window has been drawn, so none of them holds up the
    // server list's first rows. The window is drawn again when the server page comes in after the startup
    // password.
    if (!painted_) {
        painted_ = true;
        QTimer::singleShot(0, this, [this] {
            BuildHiddenPages();
            bookmarks_->Load();
        });
    }
    if (makeNetToolsPage_ && serverPage_ != nullptr && !netToolsPageDue_) {
        netToolsPageDue_ = true;
        QTimer::singleShot(0, this, &MainWindow::EmbedNetToolsPage);
    }
}

void MainWindow::closeEvent(QCloseEvent* event) {
    Q_EMIT AboutToBeDestroyed();
    event->accept();
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    // The bookmark boxes start with a hint and are emptied every time they get the focus. A popup such as the
    // box's own context menu never took the focus away, so its closing does not count.
    if (event->type() == QEvent::FocusIn && static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason &&
        bookmarkUi_ != nullptr && (watched == bookmarkUi_->编辑框1 || watched == bookmarkUi_->编辑框4)) {
        static_cast<QLineEdit*>(watched)->clear();
    }
    return QWidget::eventFilter(watched, event);
}

void MainWindow::OnTabChanged(int page) {
    if (page >= 2) {
        BuildHiddenPages();
    }
    if (page == 1) {
        EmbedNetToolsPage();
    }
    if (serverPage_ != nullptr) {
        serverPage_->setVisible(page == 0);
    }
    if (netToolsPage_ != nullptr) {
        netToolsPage_->setVisible(page == 1);
    }
}
