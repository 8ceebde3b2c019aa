#include "servers/ConnectToServer.h"
#include "StandInClient.h"
#include "runtime/MsgBox.h"
#include "support/ModalDialogs.h"

#include <QMessageBox>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

class ConnectToServerTest : public ::testing::Test {
protected:
    ConnectToServerTest()
        : tmp_("TMPDIR", home_.Path())
        , data_("XDG_DATA_HOME", home_.Path())
        , config_("XDG_CONFIG_HOME", home_.Path()) {
        MsgBox::ClearAnswered();
    }
    ~ConnectToServerTest() override { MsgBox::ClearAnswered(); }

    static ServerEntry Entry() {
        ServerEntry entry;
        entry.host = "127.0.0.1";
        entry.port = "3389";
        entry.account = "Administrator";
        entry.password = "pw";
        return entry;
    }

    TempDir home_;
    ScopedEnv tmp_;
    ScopedEnv data_;
    ScopedEnv config_;
};

TEST_F(ConnectToServerTest, StartsTheClientWithoutAnyBox) {
    StandInClient client;
    ArmModalGuard();
    ConnectToServer(Entry(), {true, true}, false);
    DisarmModalGuard();
    EXPECT_TRUE(MsgBox::Answered().empty());
    const auto run = client.WaitForRun();
    ASSERT_TRUE(run);
    ASSERT_EQ(run->arguments.size(), 5u);
    EXPECT_EQ(std::vector<std::string>(run->arguments.begin() + 1, run->arguments.end()),
              (std::vector<std::string>{"/admin", "/f", "/cert:tofu", "/from-stdin:force"}));
    EXPECT_EQ(run->input, "pw\n");
}

TEST_F(ConnectToServerTest, MissingClientIsNamedOnce) {
    ScopedEnv path("PATH", home_.Path());
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    ConnectToServer(Entry(), {}, false);
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("freerdp2-x11")));
    EXPECT_EQ(MsgBox::Answered()[0].icon, MsgBox::Icon::Warning);
}

TEST_F(ConnectToServerTest, MissingClientBoxIsARealBoxThatCloses) {
    ScopedEnv path("PATH", home_.Path());
    QString text;
    WhenModal([&](QWidget* window) {
        auto* box = qobject_cast<QMessageBox*>(window);
        ASSERT_NE(box, nullptr);
        text = box->text();
        box->accept();
    });
    ConnectToServer(Entry(), {}, false);
    EXPECT_TRUE(text.contains(QStringLiteral("xfreerdp")));
}

} // namespace
