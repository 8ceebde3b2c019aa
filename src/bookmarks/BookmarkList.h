#pragma once

#include "bookmarks/BookmarkStore.h"

#include <QObject>

class QAbstractButton;
class WatchedFile;
class QLineEdit;
class QTreeWidget;
class QTreeWidgetItem;

// The bookmark page: fills the list from the bookmark file and adds, deletes and opens bookmarks. Each row
// keeps the bytes of the record it stands for, so a delete can make sure the row still names that record.
class BookmarkList : public QObject {
    Q_OBJECT

public:
    explicit BookmarkList(BookmarkStore store = {}, QObject* parent = nullptr);

    // Takes the page's controls, which are made only once the window has been drawn; every other call needs them.
    void Attach(QTreeWidget* list, QLineEdit* nameBox, QLineEdit* addressBox, QAbstractButton* addButton);
    // Fills the list from the file, writing the default file first when there is none; from then on the list
    // follows the file as other windows change it.
    void Load();
    // Stores the two boxes' contents as a new bookmark and shows it as the last row.
    void Add();
    // Asks, then deletes the selected bookmark from the file and the list.
    void DeleteSelected();
    // Hands the selected bookmark's address to the desktop.
    void OpenSelected();

Q_SIGNALS:
    // The list has been filled from the file.
    void Loaded();

private:
    int SelectedRow() const;
    void Refill(const std::vector<Bookmark>& bookmarks);
    // Fills the list anew from what another window left in the file, keeping the selected bookmark selected.
    void FollowFile();
    // This window's own change of the file is no news to it.
    void Wrote();

    QTreeWidget* list_ = nullptr;
    QLineEdit* nameBox_ = nullptr;
    QLineEdit* addressBox_ = nullptr;
    BookmarkStore store_;
    WatchedFile* watch_ = nullptr;
};
