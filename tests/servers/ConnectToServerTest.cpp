#include "servers/ConnectToServer.h"
#include "LoopbackPeers.h"
#include "StandInClient.h"
#include "runtime/MsgBox.h"
#include "support/ModalDialogs.h"

#include <QMessageBox>
#include <QTest>
#include <cerrno>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/wait.h>

namespace {

class ConnectToServerTest : public ::testing::Test {
protected:
    ConnectToServerTest()
        : tmp_("TMPDIR", home_.Path())
        , data_("XDG_DATA_HOME", home_.Path())
        , config_("XDG_CONFIG_HOME", home_.Path())
        , runtime_("XDG_RUNTIME_DIR", home_.Path()) {
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

    // The box a failed client gets, once its end reached the event loop; nullopt when none came within 10 s.
    std::optional<MsgBox::Shown> BoxAfterClientEnds() {
        MsgBox::SetNextAnswer(MsgBox::Result::Ok);
        const bool shown = QTest::qWaitFor([] { return !MsgBox::Answered().empty(); }, 10000);
        return shown ? std::optional(MsgBox::Answered().back()) : std::nullopt;
    }

    // Whether every child of this process has ended and been reaped, within 10 s.
    static bool NoChildLeft() {
        return QTest::qWaitFor(
            [] {
                siginfo_t info{};
                return ::waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
            },
            10000);
    }

    TempDir home_;
    ScopedEnv tmp_;
    ScopedEnv data_;
    ScopedEnv config_;
    ScopedEnv runtime_;
    QObject context_;
};

TEST_F(ConnectToServerTest, StartsTheClientWithoutAnyBox) {
    StandInClient client;
    ArmModalGuard();
    ConnectToServer(Entry(), {true, true}, false, &context_);
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
    ConnectToServer(Entry(), {}, false, &context_);
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
    ConnectToServer(Entry(), {}, false, &context_);
    EXPECT_TRUE(text.contains(QStringLiteral("xfreerdp")));
}

TEST_F(ConnectToServerTest, FailedLoginIsToldOnceWithItsReason) {
    StandInClient client;
    const Listener listener;
    const ClosedPort closed;
    const struct {
        const char* status;
        std::string port;
        const char* reason;
    } failures[] = {
        {"154", closed.PortText(), "账号或密码错误"},
        {"141", listener.PortText(), "主机不可达"},
        // FreeRDP ends alike on a port nobody answers and on a server that hung up on the login.
        {"147", closed.PortText(), "主机不可达"},
        {"147", listener.PortText(), "账号或密码错误"},
        {"143", closed.PortText(), "证书"},
        {"128", closed.PortText(), "未能启动"},
    };
    for (const auto& [status, port, reason] : failures) {
        ScopedEnv exit("STANDIN_EXIT", status);
        MsgBox::ClearAnswered();
        ServerEntry entry = Entry();
        entry.port = port;
        ConnectToServer(entry, {}, false, &context_);
        const std::optional<MsgBox::Shown> box = BoxAfterClientEnds();
        ASSERT_TRUE(box) << status;
        EXPECT_TRUE(box->text.contains(QString::fromUtf8(reason))) << status << ": " << box->text.toStdString();
        EXPECT_EQ(box->caption, QStringLiteral("连接服务器"));
        // One box per failed client, not one per wake-up of the watch.
        QTest::qWait(100);
        EXPECT_EQ(MsgBox::Answered().size(), 1u);
    }
}

TEST_F(ConnectToServerTest, ACheckStillRunningWhenThePageGoesTellsNothing) {
    StandInClient client;
    const SilentPort silent;
    ScopedEnv exit("STANDIN_EXIT", "147");
    ServerEntry entry = Entry();
    entry.port = silent.PortText();
    auto context = std::make_unique<QObject>();
    ConnectToServer(entry, {}, false, context.get());
    ASSERT_TRUE(client.WaitForRun());
    // Once the client's end is in (it has been reaped), the check waits on the silent port; the page goes
    // meanwhile.
    ASSERT_TRUE(NoChildLeft());
    context.reset();
    // The check gives up after its five-second bound; a box it wrongly raised would come by then.
    QTest::qWait(6000);
    EXPECT_TRUE(MsgBox::Answered().empty());
}

TEST_F(ConnectToServerTest, SessionThatEndsNormallySaysNothingAndLeavesNoZombie) {
    StandInClient client;
    ScopedEnv sleep("STANDIN_SLEEP", "1");
    ConnectToServer(Entry(), {}, false, &context_);
    ASSERT_TRUE(client.WaitForRun());
    // The watch reaps the client once it ends: no child of ours is left behind.
    EXPECT_TRUE(NoChildLeft());
    EXPECT_TRUE(MsgBox::Answered().empty());
}

TEST_F(ConnectToServerTest, LineBreakInAStoredValueNamesTheEntryAndTheBox) {
    StandInClient client;
    ServerEntry entry = Entry();
    entry.account = "Administrator\nfull address:s:127.0.0.2:3390";
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    ConnectToServer(entry, {}, false, &context_);
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("127.0.0.1:3389")));
    EXPECT_TRUE(MsgBox::Answered()[0].text.contains(QStringLiteral("“登陆账号”")));
    EXPECT_EQ(client.Started(), 0);
}

} // namespace
