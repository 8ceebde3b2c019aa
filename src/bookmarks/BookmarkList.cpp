#include "bookmarks/BookmarkList.h"

#include "runtime/GbkQt.h"
#include "runtime/Log.h"
#include "runtime/MsgBox.h"
#include "runtime/ShellOpen.h"

#include "runtime/WatchedFile.h"

#include <QAbstractButton>
#include <QLineEdit>
#include <QTreeWidget>

namespace {

constexpr int kNameRole = Qt::UserRole;
constexpr int kAddressRole = Qt::UserRole + 1;
// The address a double-click opens: what the row shows, which for a row just added is the address as typed,
// even where the file keeps it cut.
constexpr int kOpenRole = Qt::UserRole + 2;

QByteArray ToBytes(const std::string& text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FromBytes(const QVariant& value) {
    const QByteArray bytes = value.toByteArray();
    return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

QTreeWidgetItem* MakeRow(const QString& name, const QString& address, const Bookmark& stored,
                         const std::string& opened) {
    auto* item = new QTreeWidgetItem(QStringList{name, address});
    item->setData(0, kNameRole, ToBytes(stored.name));
    item->setData(0, kAddressRole, ToBytes(stored.address));
    item->setData(0, kOpenRole, ToBytes(opened));
    return item;
}

void Warn(const QString& text) {
    MsgBox::Show(text, MsgBox::DefaultCaption(), MsgBox::Buttons::Ok, MsgBox::Icon::Warning);
}

} // namespace

BookmarkList::BookmarkList(BookmarkStore store, QObject* parent)
    : QObject(parent)
    , store_(std::move(store)) {}

void BookmarkList::Attach(QTreeWidget* list, QLineEdit* nameBox, QLineEdit* addressBox, QAbstractButton* addButton) {
    list_ = list;
    nameBox_ = nameBox;
    addressBox_ = addressBox;
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(addButton, &QAbstractButton::clicked, this, &BookmarkList::Add);
    connect(list_, &QTreeWidget::customContextMenuRequested, this, &BookmarkList::DeleteSelected);
    connect(list_, &QTreeWidget::itemDoubleClicked, this, &BookmarkList::OpenSelected);
}

void BookmarkList::Load() {
    // Taken before the read, so that another window's change just after it is still followed.
    const FileStamp before = StampOf(store_.Path());
    Refill(store_.Load());
    Q_EMIT Loaded();
    if (watch_ == nullptr) {
        watch_ = new WatchedFile(store_.Path(), {}, this, before);
        connect(watch_, &WatchedFile::Changed, this, &BookmarkList::FollowFile);
    }
}

void BookmarkList::FollowFile() {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    const QByteArray name = selected.isEmpty() ? QByteArray() : selected.front()->data(0, kNameRole).toByteArray();
    const QByteArray address =
        selected.isEmpty() ? QByteArray() : selected.front()->data(0, kAddressRole).toByteArray();
    Refill(store_.ReadAll());
    for (int row = 0; !selected.isEmpty() && row < list_->topLevelItemCount(); ++row) {
        const QTreeWidgetItem* item = list_->topLevelItem(row);
        if (item->data(0, kNameRole).toByteArray() == name && item->data(0, kAddressRole).toByteArray() == address) {
            list_->setCurrentItem(list_->topLevelItem(row));
            break;
        }
    }
}

void BookmarkList::Wrote() {
    if (watch_ != nullptr) {
        watch_->Seen();
    }
}

void BookmarkList::Add() {
    const std::optional<std::string> name = Gbk::FromQString(nameBox_->text());
    const std::optional<std::string> address = Gbk::FromQString(addressBox_->text());
    if (!name || !address) {
        Warn(QStringLiteral("名称或网址中有无法保存的字符，未加入收藏。"));
        return;
    }
    const std::optional<Bookmark> stored = store_.Add({*name, *address});
    if (!stored) {
        Warn(QStringLiteral("收藏文件无法写入，未加入收藏。"));
        return;
    }
    Wrote();
    // The row shows what was typed; a text too long for its field is seen cut only after the next start.
    list_->addTopLevelItem(MakeRow(nameBox_->text(), addressBox_->text(), *stored, *address));
}

void BookmarkList::DeleteSelected() {
    if (MsgBox::Show(QStringLiteral("你是否确定删除此条数据？"), MsgBox::DefaultCaption(), MsgBox::Buttons::OkCancel,
                     MsgBox::Icon::Warning) != MsgBox::Result::Ok) {
        return;
    }
    const int row = SelectedRow();
    if (row < 0) {
        return;
    }
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    const Bookmark shown{FromBytes(item->data(0, kNameRole)), FromBytes(item->data(0, kAddressRole))};
    const BookmarkStore::DeleteResult result = store_.Delete(row, shown);
    Wrote();
    switch (result) {
    case BookmarkStore::DeleteResult::Deleted:
        delete list_->takeTopLevelItem(row);
        break;
    case BookmarkStore::DeleteResult::Changed:
        Refill(store_.ReadAll());
        Warn(QStringLiteral("收藏文件已被其他程序修改，未删除任何数据，列表已重新载入。"));
        break;
    case BookmarkStore::DeleteResult::Failed:
        Warn(QStringLiteral("收藏文件无法修改，未删除此条数据。"));
        break;
    }
}

void BookmarkList::OpenSelected() {
    const int row = SelectedRow();
    // Bytes rather than the shown text: they reach the opener unchanged, without a round trip through Qt.
    const std::string address = row < 0 ? std::string() : FromBytes(list_->topLevelItem(row)->data(0, kOpenRole));
    // The desktop's opener says for itself what it could not open; the row stays as it is either way.
    if (Result<void> opened = ShellOpen(address); !opened) {
        Log::Failure("bookmarks", "the desktop could not be asked to open the address", opened.Reason());
    }
}

int BookmarkList::SelectedRow() const {
    const QList<QTreeWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->indexOfTopLevelItem(selected.front());
}

void BookmarkList::Refill(const std::vector<Bookmark>& bookmarks) {
    list_->clear();
    // One insertion for all rows: a large file fills the list without a model update per row.
    QList<QTreeWidgetItem*> rows;
    rows.reserve(static_cast<qsizetype>(bookmarks.size()));
    for (const Bookmark& bookmark : bookmarks) {
        // A text that an earlier cut ended inside a character is shown and opened without the half character;
        // the row keeps the stored bytes for the check before a delete.
        const std::string address = CutAtCharacter(bookmark.address);
        rows.append(MakeRow(Gbk::ToQString(CutAtCharacter(bookmark.name)), Gbk::ToQString(address), bookmark, address));
    }
    list_->addTopLevelItems(rows);
}
