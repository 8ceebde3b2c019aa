#include "servers/ServerPage.h"

#include "runtime/GbkQt.h"
#include "runtime/MsgBox.h"
#include "servers/ConnectToServer.h"
#include "servers/ServerDrop.h"
#include "servers/ServerEditorDialog.h"
#include "servers/StatusPictures.h"
#include "servers/WatchRelay.h"
#include "servers/WatchTexts.h"
#include "settings/SettingsFile.h"
#include "ui/HelpNotice.h"
#include "ui/ListViewColumns.h"
#include "ui/PasswordDialog.h"
#include "ui_ServerPage.h"

#include <QHelpEvent>
#include <QImageReader>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <QToolTip>
#include <algorithm>
#include <functional>
#include <unordered_set>
#include <utility>

namespace {

constexpr int kStatusColumn = 3;

// Host names, ports and most accounts are plain ASCII, which reads the same in GBK: they skip the converter.
QString RowText(const std::string& gbk) {
    const bool ascii = std::all_of(gbk.begin(), gbk.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return ascii ? QString::fromLatin1(gbk.data(), static_cast<qsizetype>(gbk.size())) : Gbk::ToQString(gbk);
}

// A list never drawn yet gets only the rows its first screen can show before it is drawn; the rest are made once
// it is on screen, so a long list does not hold up its first rows.
constexpr std::size_t kFirstScreenRows = 40;

class RowsAfterFirstPaint : public QObject {
public:
    static constexpr QLatin1StringView kName{"rowsAfterFirstPaint"};

    RowsAfterFirstPaint(QTreeWidget* list, std::function<void()> addRest)
        : QObject(list->viewport())
        , addRest_(std::move(addRest)) {
        setObjectName(kName);
        list->viewport()->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued before the probe pass, which starts on the same paint: every row is there for its results.
            QTimer::singleShot(0, this, [this] {
                addRest_();
                deleteLater();
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> addRest_;
};

// The banner is our own PNG, read by Qt's built-in reader: left to find a reader itself, Qt would first load
// every installed image plugin to ask whether it knows the file, all before the window's first paint.
QPixmap BannerPicture() {
    QImageReader reader(QStringLiteral(":/tolvar/banner.png"), "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

void ShowNoSelection() {
    MsgBox::Show(QStringLiteral("请选择服务器列表！"), QStringLiteral("操作错误"), MsgBox::Buttons::Ok,
                 MsgBox::Icon::Error);
}

} // namespace

ServerPage::ServerPage(ServerList& servers, const Bytes& settingsBytes, std::string& startupPassword, QWidget* parent,
                       ProbeSettings probe, std::chrono::milliseconds watchInterval)
    : QWidget(parent)
    , servers_(servers)
    , startupPassword_(startupPassword)
    , ui_(std::make_unique<Ui::ServerPage>())
    , pictures_(StatusPictureStrip())
    , relay_(std::make_shared<WatchRelay>(this, [this](const WatchReport& report) { OnWatchReport(report); }))
    , watch_(std::make_unique<ServerWatch>(servers, std::move(probe),
                                           [relay = relay_](WatchReport report) { relay->Post(std::move(report)); }))
    , watchTimer_(new QTimer(this)) {
    ui_->setupUi(this);
    ui_->图片框1->setPixmap(BannerPicture());
    ApplyColumnWidths(ui_->超级列表框1);
    ui_->超级列表框1->installEventFilter(this);
    ui_->超级列表框1->viewport()->installEventFilter(this);
    // Connection files from other tools are dropped onto the list.
    AcceptDroppedFiles(ui_->超级列表框1->viewport(), [this](const QList<QUrl>& urls) { ImportDropped(urls); });

    ParsedSettings parsed = ParseSettings(settingsBytes);
    servers_.AppendAll(std::move(parsed.servers));
    SetOptions(parsed.options);

    // The selection, not the current row: focusing the list marks a row current without choosing it.
    connect(ui_->超级列表框1, &QTreeWidget::itemSelectionChanged, this, &ServerPage::OnSelectionChanged);
    connect(ui_->按钮_添加服务器, &QPushButton::clicked, this, &ServerPage::OnAddClicked);
    connect(ui_->按钮_设置服务器, &QPushButton::clicked, this, &ServerPage::OnEditClicked);
    connect(ui_->按钮_删除服务器, &QPushButton::clicked, this, &ServerPage::OnDeleteClicked);
    connect(ui_->按钮_连接服务器, &QPushButton::clicked, this, &ServerPage::OnConnectClicked);
    connect(ui_->按钮1, &QPushButton::clicked, this, &ServerPage::OnHelpClicked);
    connect(ui_->按钮_启动密码, &QPushButton::clicked, this, &ServerPage::OnStartupPasswordClicked);
    // The two screen options are one radio pair: one of them toggles for every change.
    const auto optionChanged = [this] {
        if (!showingContent_) {
            Q_EMIT SettingsChanged();
        }
    };
    connect(ui_->选择框_admin, &QCheckBox::toggled, this, optionChanged);
    connect(ui_->单选框1024768, &QRadioButton::toggled, this, optionChanged);

    RefillView();
    // Later passes show only what changed: the rows keep their status until a result differs. The first pass
    // and the timer start once the list is on screen.
    watchTimer_->setInterval(watchInterval);
    connect(watchTimer_, &QTimer::timeout, this, [this] { watch_->ProbeAll(); });
}

ServerPage::~ServerPage() {
    relay_->Detach();
    // The controls outlive the form's members while the widget tree is torn down.
    ui_->超级列表框1->removeEventFilter(this);
    ui_->超级列表框1->viewport()->removeEventFilter(this);
}

ConnectionOptions ServerPage::Options() const {
    return {ui_->选择框_admin->isChecked(), ui_->单选框1024768->isChecked()};
}

void ServerPage::SetOptions(const ConnectionOptions& options) {
    ui_->选择框_admin->setChecked(options.forceLogin);
    (options.fullScreen ? ui_->单选框1024768 : ui_->单选框800600)->setChecked(true);
}

std::size_t ServerPage::SettingsRoom() const {
    return ::SettingsRoom(servers_.Entries(), startupPassword_);
}

SettingsContent ServerPage::Content() const {
    return {servers_.Entries(), Options(), startupPassword_};
}

void ServerPage::ShowContent(const SettingsContent& content) {
    const QList<QTreeWidgetItem*> selected = ui_->超级列表框1->selectedItems();
    const ServerList::Id selectedId = selected.isEmpty() ? 0 : selected.front()->data(0, kEntryIdRole).toULongLong();
    const std::vector<ServerList::Id> added = servers_.TakeOver(content.servers);
    showingContent_ = true;
    SetOptions(content.options);
    showingContent_ = false;
    startupPassword_ = content.startupPassword;
    UpdateView();
    if (const auto row = rowsById_.find(selectedId); row != rowsById_.end()) {
        ui_->超级列表框1->setCurrentItem(row->second);
    } else if (selectedId != 0) {
        ui_->编辑框_备注->clear();
    }
    if (!added.empty()) {
        watch_->Probe(added);
    }
}

bool ServerPage::eventFilter(QObject* watched, QEvent* event) {
    QTreeWidget* list = ui_->超级列表框1;
    if (watched == list && event->type() == QEvent::KeyPress) {
        return ListKeyPressed(static_cast<QKeyEvent*>(event)->key()) || QWidget::eventFilter(watched, event);
    }
    if (watched != list->viewport()) {
        return QWidget::eventFilter(watched, event);
    }
    switch (event->type()) {
    case QEvent::Paint:
        if (!probePassStarted_) {
            // A thousand thread starts would hold up the list's first paint, so the pass begins once it is on
            // screen.
            probePassStarted_ = true;
            QTimer::singleShot(0, this, [this] {
                watch_->ProbeAll();
                watchTimer_->start();
            });
        }
        break;
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            OnConnectClicked();
        }
        break;
    case QEvent::ToolTip: {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (ShowStatusToolTip(help->pos(), help->globalPos())) {
            return true;
        }
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

bool ServerPage::ListKeyPressed(int key) {
    // The page is no dialog, so its default button gets no Return of its own: the list hands it on.
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        OnConnectClicked();
        return true;
    }
    if (key == Qt::Key_F5) {
        ProbeAllNow();
        return true;
    }
    return false;
}

QTreeWidgetItem* ServerPage::MakeRow(const ServerList::Row& row) {
    const ServerEntry& entry = row.entry;
    auto* item = new QTreeWidgetItem(QStringList{RowText(entry.host), RowText(entry.port), RowText(entry.account)});
    item->setData(0, kEntryIdRole, static_cast<qulonglong>(row.id));
    item->setTextAlignment(2, Qt::AlignCenter);
    item->setTextAlignment(kStatusColumn, Qt::AlignCenter);
    SetRowStatus(item, entry.status);
    rowsById_.emplace(row.id, item);
    return item;
}

void ServerPage::RefillView() {
    QTreeWidget* list = ui_->超级列表框1;
    // Rows still waiting for the first paint belong to the list being replaced.
    delete list->viewport()->findChild<QObject*>(RowsAfterFirstPaint::kName, Qt::FindDirectChildrenOnly);
    list->clear();
    rowsById_.clear();
    const auto addRows = [this, list](const std::vector<ServerList::Row>& rows, std::size_t from) {
        QList<QTreeWidgetItem*> items;
        items.reserve(static_cast<qsizetype>(rows.size() - from));
        for (std::size_t index = from; index < rows.size(); ++index) {
            items.push_back(MakeRow(rows[index]));
        }
        list->addTopLevelItems(items);
        Q_EMIT StatusesChanged();
    };
    std::vector<ServerList::Row> rows = servers_.Rows();
    if (probePassStarted_ || rows.size() <= kFirstScreenRows) {
        addRows(rows, 0);
        return;
    }
    std::vector<ServerList::Row> first(rows.begin(), rows.begin() + kFirstScreenRows);
    addRows(first, 0);
    new RowsAfterFirstPaint(list, [addRows, rows = std::move(rows)] { addRows(rows, kFirstScreenRows); });
}

void ServerPage::UpdateView() {
    QTreeWidget* list = ui_->超级列表框1;
    const std::vector<ServerList::Id> ids = servers_.Ids();
    std::unordered_set<ServerList::Id> kept(ids.begin(), ids.end());
    const std::size_t gone = rowsById_.size() - std::count_if(rowsById_.begin(), rowsById_.end(), [&](const auto& row) {
                                 return kept.contains(row.first);
                             });
    // Rows are taken out and put in one at a time, which only pays for a few; a list that was not yet drawn
    // whole is drawn anew as well.
    constexpr std::size_t kFewChanges = 200;
    const bool pending =
        list->viewport()->findChild<QObject*>(RowsAfterFirstPaint::kName, Qt::FindDirectChildrenOnly) != nullptr;
    if (pending || gone > kFewChanges || (ids.size() + gone) - rowsById_.size() > kFewChanges) {
        RefillView();
        return;
    }
    for (auto row = rowsById_.begin(); row != rowsById_.end();) {
        if (kept.contains(row->first)) {
            ++row;
            continue;
        }
        delete row->second;
        row = rowsById_.erase(row);
    }
    for (std::size_t index = 0; index < ids.size(); ++index) {
        const int at = static_cast<int>(index);
        const auto shown = rowsById_.find(ids[index]);
        if (shown == rowsById_.end()) {
            const std::optional<ServerEntry> entry = servers_.EntryById(ids[index]);
            list->insertTopLevelItem(at, MakeRow({ids[index], entry.value_or(ServerEntry{})}));
        } else if (list->topLevelItem(at) != shown->second) {
            // The file put known entries in another order, which rows moved one by one would not show well.
            RefillView();
            return;
        }
    }
    Q_EMIT StatusesChanged();
}

void ServerPage::SetRowStatus(QTreeWidgetItem* row, ServerStatus status) {
    const int picture = StatusPictureIndex(status);
    row->setText(kStatusColumn, StatusText(status));
    row->setIcon(0, pictures_.at(static_cast<std::size_t>(picture)));
    row->setData(0, kStatePictureRole, picture);
}

void ServerPage::ShowStatus(ServerList::Id id, ServerStatus status) {
    // Rows are found by the entry's identity: a deleted entry's late result finds nothing. A row that already
    // shows the result is left alone, so a pass where nothing changed changes nothing on screen.
    if (const auto found = rowsById_.find(id);
        found != rowsById_.end() && found->second->data(0, kStatePictureRole).toInt() != StatusPictureIndex(status)) {
        SetRowStatus(found->second, status);
        Q_EMIT StatusesChanged();
    }
}

void ServerPage::OnWatchReport(const WatchReport& report) {
    const std::optional<WatchChange> change = watch_->Apply(report);
    if (!change) {
        return;
    }
    ShowStatus(change->id, change->status);
    if (change->notice == WatchNotice::None) {
        return;
    }
    const std::optional<ServerEntry> entry = servers_.EntryById(change->id);
    if (!entry) {
        return;
    }
    const QString note = Gbk::ToQString(entry->note);
    Q_EMIT ServerNoticed(
        {change->id, change->notice == WatchNotice::CameBack, Gbk::ToQString(entry->host), Gbk::ToQString(entry->port),
         note.section(u'\n', 0, 0).trimmed(),
         QDateTime::fromMSecsSinceEpoch(
             std::chrono::duration_cast<std::chrono::milliseconds>(report.at.time_since_epoch()).count())});
}

void ServerPage::ProbeAllNow() {
    for (const ServerList::Id id : watch_->ProbeAll()) {
        servers_.SetStatus(id, ServerStatus::Unknown);
        ShowStatus(id, ServerStatus::Unknown);
    }
}

bool ServerPage::SelectEntry(quint64 id) {
    const auto found = rowsById_.find(id);
    if (found == rowsById_.end()) {
        return false;
    }
    ui_->超级列表框1->setCurrentItem(found->second);
    ui_->超级列表框1->scrollToItem(found->second);
    return true;
}

std::pair<int, int> ServerPage::StatusCounts() const {
    std::pair<int, int> counts{0, 0};
    for (const auto& [id, row] : rowsById_) {
        const int picture = row->data(0, kStatePictureRole).toInt();
        counts.first += picture == StatusPictureIndex(ServerStatus::Online) ? 1 : 0;
        counts.second += picture == StatusPictureIndex(ServerStatus::Offline) ? 1 : 0;
    }
    return counts;
}

bool ServerPage::ShowStatusToolTip(const QPoint& position, const QPoint& globalPosition) {
    QTreeWidget* list = ui_->超级列表框1;
    const QTreeWidgetItem* row = list->itemAt(position);
    if (row == nullptr || list->columnAt(position.x()) != kStatusColumn) {
        return false;
    }
    const std::optional<WatchHistory> history = watch_->HistoryOf(row->data(0, kEntryIdRole).toULongLong());
    if (!history) {
        QToolTip::hideText();
        return true;
    }
    const QModelIndex cell = list->indexFromItem(row, kStatusColumn);
    QToolTip::showText(globalPosition, StatusToolTip(*history, QDateTime::currentDateTime()), list->viewport(),
                       list->visualRect(cell));
    return true;
}

void ServerPage::ImportDropped(const QList<QUrl>& urls) {
    const std::vector<ServerList::Id> added = ImportDroppedFiles(urls, servers_, SettingsRoom());
    if (added.empty()) {
        return;
    }
    RefillView();
    Q_EMIT SettingsChanged();
    watch_->Probe(added);
}

ServerList::Id ServerPage::LastRowId() const {
    const QTreeWidget* list = ui_->超级列表框1;
    const int count = list->topLevelItemCount();
    return count == 0 ? 0 : list->topLevelItem(count - 1)->data(0, kEntryIdRole).toULongLong();
}

std::size_t ServerPage::SelectedNumber() const {
    const QList<QTreeWidgetItem*> selected = ui_->超级列表框1->selectedItems();
    if (selected.isEmpty()) {
        return 0;
    }
    return servers_.NumberOf(selected.front()->data(0, kEntryIdRole).toULongLong()).value_or(0);
}

void ServerPage::OnSelectionChanged() {
    const std::size_t number = SelectedNumber();
    if (number < 1) {
        return;
    }
    ui_->按钮_删除服务器->setEnabled(true);
    ui_->按钮_连接服务器->setEnabled(true);
    if (const std::optional<ServerEntry> entry = servers_.EntryAt(number)) {
        ui_->编辑框_备注->setPlainText(Gbk::ToQString(entry->note));
    }
}

void ServerPage::OnAddClicked() {
    ServerEditorDialog dialog(servers_, 0, this, SettingsRoom());
    if (dialog.exec() == QDialog::Accepted) {
        RefillView();
        Q_EMIT SettingsChanged();
        watch_->Probe({LastRowId()});
    }
}

void ServerPage::OnEditClicked() {
    const std::size_t number = SelectedNumber();
    if (number < 1) {
        ShowNoSelection();
        return;
    }
    const ServerList::Id id = ui_->超级列表框1->selectedItems().front()->data(0, kEntryIdRole).toULongLong();
    ServerEditorDialog dialog(servers_, number, this, SettingsRoom());
    if (dialog.exec() == QDialog::Accepted) {
        RefillView();
        Q_EMIT SettingsChanged();
        watch_->Probe({id});
    }
}

void ServerPage::OnDeleteClicked() {
    const std::size_t number = SelectedNumber();
    if (number < 1) {
        ShowNoSelection();
        return;
    }
    if (MsgBox::Show(QStringLiteral("确认删除该项？"), QStringLiteral("删除项目"), MsgBox::Buttons::OkCancel) !=
        MsgBox::Result::Ok) {
        return;
    }
    servers_.Remove(number);
    RefillView();
    Q_EMIT SettingsChanged();
}

void ServerPage::OnConnectClicked() {
    const std::size_t number = SelectedNumber();
    const std::optional<ServerEntry> entry = number < 1 ? std::nullopt : servers_.EntryAt(number);
    if (!entry) {
        ShowNoSelection();
        return;
    }
    Connect(*entry);
}

void ServerPage::Connect(const ServerEntry& entry) {
    // The button stays off while the launch runs, so a second click cannot start a second client.
    ui_->按钮_连接服务器->setEnabled(false);
    ConnectToServer(entry, Options(), ui_->磁盘->isChecked(), this);
    ui_->按钮_连接服务器->setEnabled(true);
}

void ServerPage::OnHelpClicked() {
    ShowHelpNotice();
}

void ServerPage::OnStartupPasswordClicked() {
    PasswordDialog dialog(startupPassword_, nullptr, SettingsRoom());
    if (dialog.exec() == QDialog::Accepted) {
        Q_EMIT SettingsChanged();
    }
}
