#include "tools/NetToolsPage.h"

#include "runtime/Gbk.h"
#include "runtime/GbkQt.h"
#include "runtime/HostInfo.h"
#include "runtime/MsgBox.h"
#include "tools/IpLookup.h"
#include "tools/PageFetcher.h"
#include "tools/PingControls.h"
#include "ui_NetToolsPage.h"

NetToolsPage::NetToolsPage(QWidget* parent)
    : QWidget(parent)
    , ui_(std::make_unique<Ui::NetToolsPage>())
    , ownAddressFetch_(new PageFetcher(this))
    , lookupFetch_(new PageFetcher(this)) {
    ui_->setupUi(this);
    BindPingControls(pingConsole_, {ui_->按钮3, ui_->按钮2, ui_->编辑框1, ui_->编辑框2});
    connect(ui_->按钮1, &QPushButton::clicked, this, &NetToolsPage::Lookup);
    connect(ui_->编辑框1, &QLineEdit::returnPressed, this, &NetToolsPage::Lookup);
    ShowOwnAddress();
}

NetToolsPage::~NetToolsPage() = default;

void NetToolsPage::ShowOwnAddress() {
    // The public address comes from the lookup page in the background, so a dead network never holds up the
    // start; the local values need no network and show at once.
    ownAddressFetch_->Start(IpLookup::BaseAddress(), [this](const std::string& pageText) {
        const IpLookup::OwnAddress own = IpLookup::ParseOwnAddress(pageText);
        ui_->透明标签IP->setText(Gbk::ToQString(own.address));
        ui_->透明标签位置->setText(Gbk::ToQString(own.location));
    });
    localAddresses_ = LocalIpv4Addresses();
    ui_->透明标签局域网IP->setText(localAddresses_.empty() ? QString() : Gbk::ToQString(localAddresses_.front()));
    ui_->透明标签本机名->setText(Gbk::ToQString(HostName()));
    ui_->编辑框1->setFocus();
}

void NetToolsPage::Lookup() {
    if (lookupFetch_->Busy()) {
        return; // Enter while a lookup runs; the button is disabled meanwhile
    }
    ui_->透明标签查询IP->clear();
    ui_->透明标签查询位置->clear();
    const QString typed = ui_->编辑框1->text();
    if (typed.isEmpty()) {
        MsgBox::Show(QStringLiteral("要查询的IP不能为空！"));
        return;
    }
    // A character GBK lacks goes as "?"; the page finds nothing for such an address either way.
    const std::string address = Gbk::FromUtf8(typed.toUtf8().toStdString());
    ui_->按钮1->setText(QStringLiteral("查询中……"));
    ui_->按钮1->setEnabled(false);
    lookupFetch_->Start(IpLookup::QueryAddress(IpLookup::BaseAddress(), address), [this](const std::string& pageText) {
        const IpLookup::LookupAnswer answer = IpLookup::ParseLookupAnswer(pageText);
        if (answer.nothingFound) {
            ui_->透明标签查询IP->setText(QStringLiteral("查询错误，请检查要查询的IP……"));
        } else {
            ui_->透明标签查询IP->setText(Gbk::ToQString(answer.address));
            ui_->透明标签查询位置->setText(Gbk::ToQString(answer.location));
        }
        ui_->按钮1->setText(QStringLiteral("查询"));
        ui_->按钮1->setEnabled(true);
    });
}
