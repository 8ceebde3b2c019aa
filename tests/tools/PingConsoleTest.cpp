#include "tools/PingConsole.h"
#include "ProcessProbe.h"
#include "support/Loopback.h"

#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Everything a console reported, as the page would see it.
struct Record {
    explicit Record(PingConsole& console) {
        QObject::connect(&console, &PingConsole::Output, &console, [this](const QString& text) { chunks << text; });
        QObject::connect(&console, &PingConsole::Ended, &console, [this] { ++ended; });
    }
    QString Text() const { return chunks.join(QString()); }

    QStringList chunks;
    int ended = 0;
};

// While it lives, this thread is in a network namespace of its own whose loopback answers no echo request, so
// the real ping started meanwhile meets a host that stays silent on 127.0.0.1. Making one needs root.
class SilentLoopback {
public:
    SilentLoopback()
        : home_(::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC)) {
        if (home_ < 0 || ::unshare(CLONE_NEWNET) != 0) {
            return;
        }
        entered_ = true;
        const bool up = BringLoopbackUp();
        std::ofstream ignore("/proc/sys/net/ipv4/icmp_echo_ignore_all");
        ignore << "1" << std::flush;
        ready_ = up && ignore.good();
    }
    ~SilentLoopback() {
        if (entered_) {
            EXPECT_EQ(::setns(home_, CLONE_NEWNET), 0);
        }
        if (home_ >= 0) {
            ::close(home_);
        }
    }
    SilentLoopback(const SilentLoopback&) = delete;
    SilentLoopback& operator=(const SilentLoopback&) = delete;

    bool Ready() const { return ready_; }

private:
    int home_;
    bool entered_ = false;
    bool ready_ = false;
};

class PingConsoleTest : public ::testing::Test {
protected:
    void TearDown() override {
        // Whatever a test did, nothing of its runs may be left.
        EXPECT_TRUE(WaitUntil([] { return ChildrenOfThisProcess().empty(); }, 10000));
    }

    StandInPing ping_;
};

TEST_F(PingConsoleTest, ChildGetsTranslatedArgumentsAndItsOutputArrivesAsWritten) {
    // The child stops inside a character until the test lets it go on, so the two halves come in two reads.
    ping_.Script(R"(printf '%s\n' "$@" > "$DIR/args"
printf 'one\ntwo \344\270'
while [ ! -e "$DIR/go" ]; do sleep 0.01; done
printf '\255\n')");
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1;touch${IFS}pwned|$(touch${IFS}pwned) -r 2 -t -n 2"));
    ASSERT_TRUE(WaitUntil([&] { return record.Text().endsWith(QStringLiteral("two ")); }));
    // The half character must be held back for as long as the child waits, not only for a moment.
    Spin(50);
    EXPECT_TRUE(record.Text().endsWith(QStringLiteral("two ")));
    std::ofstream(ping_.File("go")).put('\n');
    ASSERT_TRUE(WaitUntil([&] { return record.ended == 1; }));

    EXPECT_EQ(ping_.Read("args"), "-O\n-c\n2\n127.0.0.1;touch${IFS}pwned|$(touch${IFS}pwned)\n");
    EXPECT_FALSE(std::filesystem::exists(ping_.File("pwned")));
    // The notice comes first, then the child's text with the split character whole.
    EXPECT_EQ(record.chunks.value(0), QStringLiteral("选项 -r 在本机的 ping 中没有对应的功能，已忽略。\n"));
    EXPECT_EQ(record.Text().mid(record.chunks.value(0).size()), QStringLiteral("one\ntwo 中\n"));
    EXPECT_FALSE(console.IsRunning());
}

TEST_F(PingConsoleTest, StopKillsTheEndlessChildAndWhatItStartedAndReportsNothingMore) {
    ping_.Script(R"(sleep 1000 & echo $! > "$DIR/sleeper"
echo $$ > "$DIR/self"
while :; do echo tick; sleep 0.02; done)");
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1 -t"));
    ASSERT_TRUE(WaitUntil([&] { return record.Text().contains(QStringLiteral("tick")); }));
    const pid_t self = PidFromFile(ping_.File("self"));
    const pid_t sleeper = PidFromFile(ping_.File("sleeper"));
    ASSERT_GT(self, 0);
    ASSERT_GT(sleeper, 0);

    console.Stop();
    const qsizetype chunks = record.chunks.size();
    EXPECT_FALSE(console.IsRunning());
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(self) && ProcessGone(sleeper); }, 10000));
    // Output a stopped run would still report comes within this time; none must.
    Spin(200);
    EXPECT_EQ(record.chunks.size(), chunks);
    EXPECT_EQ(record.ended, 0);
}

TEST_F(PingConsoleTest, NaturalEndAlsoEndsWhatTheChildLeftRunning) {
    ping_.Script(R"(sleep 1000 & echo $! > "$DIR/sleeper"
echo done)");
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1"));
    ASSERT_TRUE(WaitUntil([&] { return record.ended == 1; }));
    EXPECT_EQ(record.Text(), QStringLiteral("done\n"));
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(PidFromFile(ping_.File("sleeper"))); }, 10000));
}

TEST_F(PingConsoleTest, NextRunEndsThePreviousOneAndOnlyItsOutputFollows) {
    ping_.Script(R"(echo $$ > "$DIR/$2"
while :; do echo "$2"; sleep 0.02; done)");
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("first -t"));
    ASSERT_TRUE(WaitUntil([&] { return record.Text().contains(QStringLiteral("first")); }));
    const pid_t first = PidFromFile(ping_.File("first"));
    console.Start(QStringLiteral("second -t"));
    const qsizetype firstChunks = record.chunks.size();
    ASSERT_TRUE(WaitUntil([&] { return record.Text().contains(QStringLiteral("second")); }));
    EXPECT_TRUE(ProcessGone(first));
    for (qsizetype i = firstChunks; i < record.chunks.size(); ++i) {
        EXPECT_FALSE(record.chunks[i].contains(QStringLiteral("first"))) << i;
    }
    console.Stop();
}

TEST_F(PingConsoleTest, DestroyingTheConsoleEndsItsRun) {
    ping_.Script(R"(echo $$ > "$DIR/self"
exec sleep 1000)");
    auto console = std::make_unique<PingConsole>();
    console->Start(QStringLiteral("127.0.0.1 -t"));
    ASSERT_TRUE(WaitUntil([&] { return PidFromFile(ping_.File("self")) > 0; }));
    const pid_t self = PidFromFile(ping_.File("self"));
    console.reset();
    EXPECT_TRUE(WaitUntil([&] { return ProcessGone(self); }, 10000));
}

TEST_F(PingConsoleTest, MissingPingIsSaidAndEndsTheRun) {
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(ping_.File("nowhere")));
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1"));
    WaitUntil([&] { return record.ended == 1; });
    qputenv("PATH", path);
    EXPECT_EQ(record.ended, 1);
    EXPECT_TRUE(record.Text().contains(QStringLiteral("无法启动")));
    EXPECT_FALSE(console.IsRunning());
}

TEST_F(PingConsoleTest, TargetThatGbkCannotHoldIsRefused) {
    ping_.Script(R"(echo ran > "$DIR/ran")");
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1 \U0001F600"));
    EXPECT_TRUE(WaitUntil([&] { return record.ended == 1; }));
    // A child wrongly started would have written its file by now.
    Spin(100);
    EXPECT_EQ(record.ended, 1);
    EXPECT_FALSE(record.Text().isEmpty());
    EXPECT_FALSE(std::filesystem::exists(ping_.File("ran")));
}

// The real local ping, found on PATH behind the empty stand-in directory.
using RealPingTest = PingConsoleTest;

TEST_F(RealPingTest, CountedRunEndsByItselfAndTwoRunsAccumulate) {
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1 -n 1"));
    ASSERT_TRUE(WaitUntil([&] { return record.ended == 1; }, 10000));
    EXPECT_TRUE(record.Text().contains(QStringLiteral("1 packets transmitted"))) << record.Text().toStdString();
    const QString first = record.Text();
    console.Start(QStringLiteral("127.0.0.1 -n 1 -w 500"));
    ASSERT_TRUE(WaitUntil([&] { return record.ended == 2; }, 10000));
    EXPECT_TRUE(record.Text().startsWith(first));
    EXPECT_EQ(record.Text().count(QStringLiteral("packets transmitted")), 2);
}

TEST_F(RealPingTest, EndlessRunRunsUntilStopped) {
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1 -t"));
    // Four echoes take three seconds; a fifth proves the count was lifted.
    ASSERT_TRUE(WaitUntil([&] { return record.Text().contains(QStringLiteral("icmp_seq=5")); }, 10000));
    EXPECT_EQ(record.ended, 0);
    console.Stop();
    EXPECT_TRUE(WaitUntil([] { return ChildrenOfThisProcess().empty(); }, 10000));
}

TEST_F(RealPingTest, SilentHostGetsALinePerUnansweredEcho) {
    SilentLoopback silent;
    if (!silent.Ready()) {
        GTEST_SKIP() << "no network namespace could be made here (it needs root); the stand-in test shows that the "
                        "ping is asked for these lines";
    }
    PingConsole console;
    Record record(console);
    console.Start(QStringLiteral("127.0.0.1 -t"));
    // Without a line per lost echo nothing at all would show while the host stays silent.
    ASSERT_TRUE(WaitUntil([&] { return record.Text().contains(QStringLiteral("icmp_seq=2")); }, 10000))
        << record.Text().toStdString();
    EXPECT_TRUE(record.Text().contains(QStringLiteral("no answer yet for icmp_seq=1")));
    EXPECT_FALSE(record.Text().contains(QStringLiteral("bytes from")));
    console.Stop();
}

TEST_F(PingConsoleTest, EmptyTargetShowsTheUsageAndStartsNothing) {
    ping_.Script(R"(echo ran > "$DIR/ran")");
    PingConsole console;
    Record record(console);
    console.Start(QString());
    EXPECT_EQ(record.ended, 1);
    EXPECT_TRUE(record.Text().startsWith(QStringLiteral("用法:\nping [-t]"))) << record.Text().toStdString();
    // A child wrongly started would have written its file by now.
    Spin(100);
    EXPECT_FALSE(std::filesystem::exists(ping_.File("ran")));
}

} // namespace
