#pragma once

#include "runtime/Bytes.h"
#include "servers/Probe.h"
#include "servers/ServerList.h"
#include "settings/ConnectionOptions.h"

#include <QIcon>
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <unordered_map>

class QTreeWidgetItem;

namespace Ui {
class ServerPage;
}

// The server manager page, embedded over the main window's first tab page once the gate is passed.
class ServerPage : public QWidget {
    Q_OBJECT

public:
    // Item data of a row: the entry number it shows (from 1), the entry's identity and its state picture.
    static constexpr int kEntryNumberRole = Qt::UserRole;
    static constexpr int kEntryIdRole = Qt::UserRole + 1;
    static constexpr int kStatePictureRole = Qt::UserRole + 2;

    // Loads `servers` and the stored options from the settings bytes and shows the list; the probe pass starts
    // once the list has first been drawn. The list and the password must outlive the page; the probe workers
    // need neither to.
    ServerPage(ServerList& servers, const Bytes& settingsBytes, std::string& startupPassword, QWidget* parent = nullptr,
               ProbeSettings probe = {});
    ~ServerPage() override;

    // The stored options as the page's controls show them.
    ConnectionOptions Options() const;

    // Rebuilds the settings file at `path` from the live list, the options and the startup password.
    void SaveSettings(const std::string& path) const;

Q_SIGNALS:
    // The list, the options or the startup password changed: what ms.ini holds is out of date.
    void SettingsChanged();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class ProbeRelay;

    void SetOptions(const ConnectionOptions& options);
    // How much the settings text may still grow; ms.ini past its read limit would come back empty.
    std::size_t SettingsRoom() const;
    void RefillView();
    // The entry number of the selected row; 0 when no row is selected.
    std::size_t SelectedNumber() const;
    void ShowStatus(ServerList::Id id, ServerStatus status);
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
    std::shared_ptr<ProbeRelay> relay_;
    ProbeSettings probe_;
    bool probePassStarted_ = false;
};
