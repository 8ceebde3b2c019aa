#include "servers/ServerPage.h"

#include "runtime/GbkQt.h"
#include "runtime/MsgBox.h"
#include "servers/ConnectToServer.h"
#include "servers/ServerEditorDialog.h"
#include "servers/StatusPictures.h"
#include "settings/SettingsFile.h"
#include "ui/HelpNotice.h"
#include "ui/ListViewColumns.h"
#include "ui/PasswordDialog.h"
#include "ui_ServerPage.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QTimer>
#include <algorithm>
#include <functional>
#include <mutex>
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

void ShowNoSelection() {
    MsgBox::Show(QStringLiteral("请选择服务器列表！"), QStringLiteral("操作错误"), MsgBox::Buttons::Ok,
                 MsgBox::Icon::Error);
}

} // namespace

// Carries probe results from the workers to the page on the GUI thread. Workers share it, so it outlives the
// page; once the page is gone it drops whatever still arrives.
class ServerPage::ProbeRelay {
public:
    explicit ProbeRelay(ServerPage* page)
        : page_(page) {}

    void Post(ServerList::Id id, ServerStatus status) {
        std::lock_guard lock(mutex_);
        if (page_ != nullptr) {
            // A page deleted before the call runs takes the pending call with it.
            QMetaObject::invokeMethod(
                page_, [page = page_, id, status] { page->ShowStatus(id, status); }, Qt::QueuedConnection);
        }
    }

    void Detach() {
        std::lock_guard lock(mutex_);
        page_ = nullptr;
    }

private:
    std::mutex mutex_;
    ServerPage* page_;
};

ServerPage::ServerPage(ServerList& servers, const Bytes& settingsBytes, std::string& startupPassword, QWidget* parent,
                       ProbeSettings probe)
    : QWidget(parent)
    , servers_(servers)
    , startupPassword_(startupPassword)
    , ui_(std::make_unique<Ui::ServerPage>())
    , pictures_(StatusPictureStrip())
    , relay_(std::make_shared<ProbeRelay>(this))
    , probe_(std::move(probe)) {
    ui_->setupUi(this);
    ApplyColumnWidths(ui_->超级列表框1);
    ui_->超级列表框1->installEventFilter(this);
    ui_->超级列表框1->viewport()->installEventFilter(this);

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
    connect(ui_->选择框_admin, &QCheckBox::toggled, this, &ServerPage::SettingsChanged);
    connect(ui_->单选框1024768, &QRadioButton::toggled, this, &ServerPage::SettingsChanged);

    RefillView();
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

void ServerPage::SaveSettings(const std::string& path) const {
    // A failed save is not reported, as before: the old file stays whole, which is all the user needs.
    static_cast<void>(::SaveSettings(servers_.Entries(), Options(), startupPassword_, path));
}

bool ServerPage::eventFilter(QObject* watched, QEvent* event) {
    QTreeWidget* list = ui_->超级列表框1;
    if (watched == list->viewport() && event->type() == QEvent::Paint && !probePassStarted_) {
        // A thousand thread starts would hold up the list's first paint, so the pass begins once it is on screen.
        probePassStarted_ = true;
        QTimer::singleShot(0, this, [this] {
            StartProbePass(servers_, probe_,
                           [relay = relay_](ServerList::Id id, ServerStatus status) { relay->Post(id, status); });
        });
    }
    if (watched == list->viewport() && event->type() == QEvent::MouseButtonDblClick &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        OnConnectClicked();
    } else if (watched == list && event->type() == QEvent::KeyPress) {
        // The page is no dialog, so its default button gets no Return of its own: the list hands it on.
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            OnConnectClicked();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
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
            const ServerEntry& entry = rows[index].entry;
            auto* item =
                new QTreeWidgetItem(QStringList{RowText(entry.host), RowText(entry.port), RowText(entry.account)});
            item->setData(0, kEntryNumberRole, static_cast<qulonglong>(index + 1));
            item->setData(0, kEntryIdRole, static_cast<qulonglong>(rows[index].id));
            item->setTextAlignment(2, Qt::AlignCenter);
            item->setTextAlignment(kStatusColumn, Qt::AlignCenter);
            SetRowStatus(item, entry.status);
            rowsById_.emplace(rows[index].id, item);
            items.push_back(item);
        }
        list->addTopLevelItems(items);
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

void ServerPage::SetRowStatus(QTreeWidgetItem* row, ServerStatus status) {
    const int picture = StatusPictureIndex(status);
    row->setText(kStatusColumn, StatusText(status));
    row->setIcon(0, pictures_.at(static_cast<std::size_t>(picture)));
    row->setData(0, kStatePictureRole, picture);
}

void ServerPage::ShowStatus(ServerList::Id id, ServerStatus status) {
    // Rows are found by the entry's identity: a deleted entry's late result finds nothing.
    if (const auto found = rowsById_.find(id); found != rowsById_.end()) {
        SetRowStatus(found->second, status);
    }
}

std::size_t ServerPage::SelectedNumber() const {
    const QList<QTreeWidgetItem*> selected = ui_->超级列表框1->selectedItems();
    return selected.isEmpty() ? 0 : selected.front()->data(0, kEntryNumberRole).toULongLong();
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
    }
}

void ServerPage::OnEditClicked() {
    const std::size_t number = SelectedNumber();
    if (number < 1) {
        ShowNoSelection();
        return;
    }
    ServerEditorDialog dialog(servers_, number, this, SettingsRoom());
    if (dialog.exec() == QDialog::Accepted) {
        RefillView();
        Q_EMIT SettingsChanged();
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
