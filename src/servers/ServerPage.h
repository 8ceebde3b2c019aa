#pragma once

#include "runtime/Bytes.h"
#include "servers/Probe.h"
#include "servers/ServerList.h"
#include "servers/ServerNotice.h"
#include "servers/ServerWatch.h"
#include "settings/ConnectionOptions.h"
#include "settings/SettingsMerge.h"

#include <QIcon>
#include <QWidget>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <unordered_map>

class QTimer;
class WatchRelay;
class QTreeWidgetItem;
class QUrl;

namespace Ui {
class ServerPage;
}

// The server manager page, embedded over the main window's first tab page once the gate is passed.
class ServerPage : public QWidget {
    Q_OBJECT

public:
    // Item data of a row: the entry's identity and its state picture.
    static constexpr int kEntryIdRole = Qt::UserRole + 1;
    static constexpr int kStatePictureRole = Qt::UserRole + 2;

    // Loads `servers` and the stored options from the settings bytes and shows the list; the probe pass starts
    // once the list has first been drawn, and every entry is probed again each `watchInterval`. The list and the
    // password must outlive the page; the probe workers need neither to.
    ServerPage(ServerList& servers, const Bytes& settingsBytes, std::string& startupPassword, QWidget* parent = nullptr,
               ProbeSettings probe = {}, std::chrono::milliseconds watchInterval = kWatchInterval);
    ~ServerPage() override;

    // The stored options as the page's controls show them.
    ConnectionOptions Options() const;

    // What the page would save: the live list, the options and the startup password.
    SettingsContent Content() const;
    // Shows `content`, as another window left it in the file: entries the list holds already keep their row,
    // status and probe, the selection stays on the entry it was on, and new entries are probed at once. No
    // SettingsChanged follows, since the file already holds it.
    void ShowContent(const SettingsContent& content);

    // Probes every entry that has no probe running, its row showing "..." until the result is in.
    void ProbeAllNow();
    // Selects and shows the row of the entry with this id; false when it is gone.
    bool SelectEntry(quint64 id);
    // How many rows show "在线" and how many "离线".
    std::pair<int, int> StatusCounts() const;

Q_SIGNALS:
    // The list, the options or the startup password changed: what ms.ini holds is out of date.
    void SettingsChanged();
    // An entry that was online went offline, or came back.
    void ServerNoticed(const ServerNotice& notice);
    // Some row's status text changed.
    void StatusesChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void SetOptions(const ConnectionOptions& options);
    // How much the settings text may still grow; ms.ini past its read limit would come back empty.
    std::size_t SettingsRoom() const;
    void RefillView();
    // Brings the rows in line with the list, changing only the rows of entries that came or went.
    void UpdateView();
    QTreeWidgetItem* MakeRow(const ServerList::Row& row);
    // The entry number of the selected row; 0 when no row is selected.
    std::size_t SelectedNumber() const;
    void ShowStatus(ServerList::Id id, ServerStatus status);
    void OnWatchReport(const WatchReport& report);
    // The status cell's tooltip at `position` of the list's viewport; false when there is none to show.
    bool ShowStatusToolTip(const QPoint& position, const QPoint& globalPosition);
    // Adds the servers of dropped connection files and probes them.
    void ImportDropped(const QList<QUrl>& urls);
    // Return and Enter connect and F5 probes every entry again; true when the key was one of them.
    bool ListKeyPressed(int key);
    // The id of the last row, which is the newest entry's.
    ServerList::Id LastRowId() const;
    void SetRowStatus(QTreeWidgetItem* row, ServerStatus status);

    void OnSelectionChanged();
    void OnAddClicked();
    void OnEditClicked();
    void OnDeleteClicked();
    void OnConnectClicked();
    void OnHelpClicked();
    void OnStartupPasswordClicked();
    // Opens a remote desktop session to the chosen entry.
    void Connect(const ServerEntry& entry);

    ServerList& servers_;
    std::string& startupPassword_;
    std::unique_ptr<Ui::ServerPage> ui_;
    std::array<QIcon, 3> pictures_;
    std::unordered_map<ServerList::Id, QTreeWidgetItem*> rowsById_;
    std::shared_ptr<WatchRelay> relay_;
    std::unique_ptr<ServerWatch> watch_;
    QTimer* watchTimer_;
    bool probePassStarted_ = false;
    // Set while the page shows what the file holds, when its option controls' changes are no edits of the user's.
    bool showingContent_ = false;
};
