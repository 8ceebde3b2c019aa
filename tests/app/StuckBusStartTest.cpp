// The real program on an X display and a private session bus whose services keep silent: a tray watcher that
// never answers, a bus socket that never speaks. Its window is drawn and a SIGTERM ends it as on a bus that works.
#include "XcbWatch.h"
#include "runtime/Files.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"
#include "support/PrivateBus.h"
#include "support/SignalWatch.h"
#include "support/TempDir.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const bool kOnPrivateBus = RunOnPrivateBus();

// Where the program's first row shows its host.
constexpr XcbRegion kFirstRow{38, 84, 50, 8};
// What a silent service may add to the start, and how long the end may take after a SIGTERM: room for a loaded
// machine, and still far below the 25 s that Qt's calls wait for a bus that never answers.
constexpr auto kAllowance = 5000ms;

double MillisSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Lets this process's own bus objects take their calls while the test waits.
void Pause() {
    QCoreApplication::processEvents();
    std::this_thread::sleep_for(2ms);
}

// An X server of the test's own, on a display number it picks itself.
class Display {
public:
    Display() {
        int pipe[2];
        if (::pipe(pipe) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(pipe[0]);
            const std::string fd = std::to_string(pipe[1]);
            ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
                     static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(pipe[1]);
        // The number comes as one line, perhaps in more than one piece.
        std::string number;
        char piece = 0;
        while (number.find('\n') == std::string::npos && ::read(pipe[0], &piece, 1) == 1) {
            number += piece;
        }
        ::close(pipe[0]);
        if (number.size() > 1 && number.back() == '\n') {
            name_ = ":" + number.substr(0, number.size() - 1);
            connection_ = xcb_connect(name_.c_str(), nullptr);
            WatchTopLevelWindows(connection_);
        }
    }
    ~Display() {
        if (connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool Ready() const { return connection_ != nullptr && xcb_connection_has_error(connection_) == 0; }
    const std::string& Name() const { return name_; }

    // Milliseconds from `start` until the next top-level window shows its first row, or nullopt within 30 s.
    std::optional<double> MillisUntilDrawn(Clock::time_point start) const {
        const Clock::time_point deadline = start + 30s;
        const xcb_window_t window = WaitForMappedWindow(connection_, deadline);
        if (window == 0) {
            return std::nullopt;
        }
        // Reading back the display is quick; the program's answers come between the looks.
        while (Clock::now() < deadline) {
            if (WaitUntilDrawn(connection_, window, kFirstRow, Clock::now() + 20ms)) {
                return MillisSince(start);
            }
            Pause();
        }
        return std::nullopt;
    }

private:
    pid_t pid_ = -1;
    std::string name_;
    xcb_connection_t* connection_ = nullptr;
};

// A copy of the program in a directory of its own, with one server in its list.
class Program {
public:
    Program() {
        std::filesystem::copy_file(TOLVAR, dir_.File("tolvar"));
        WriteTestFile(dir_.File("ms.ini"),
                      Rc4Crypt(BytesFromText("127.0.0.1|1|a|p|n\r\n#Start:0\r\n#LoadinPass:<>\r\n"), kSettingsKey));
    }

    // Starts it on `display`, with the session bus at `busAddress` (empty: the test's own).
    pid_t Start(const Display& display, const std::string& busAddress = {}) const {
        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("DISPLAY", display.Name().c_str(), 1);
            ::setenv("QT_QPA_PLATFORM", "xcb", 1);
            if (!busAddress.empty()) {
                ::setenv("DBUS_SESSION_BUS_ADDRESS", busAddress.c_str(), 1);
            }
            ::setenv("XDG_DATA_HOME", dir_.File("data").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", dir_.File("config").c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", dir_.Path().c_str(), 1);
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            ::setenv("TOLVAR_LOOKUP_URL", "http://127.0.0.1:9/", 1);
            const std::string program = dir_.File("tolvar");
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        return child;
    }

private:
    TempDir dir_;
};

// Sends SIGTERM to `pid`: its exit status and the milliseconds it took to end, or nullopt (and killed) after 30 s.
std::optional<std::pair<int, double>> Terminate(pid_t pid) {
    const Clock::time_point sent = Clock::now();
    ::kill(pid, SIGTERM);
    while (Clock::now() < sent + 30s) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return std::pair{WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status), MillisSince(sent)};
        }
        Pause();
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return std::nullopt;
}

// A desktop service that takes every call and answers none.
class SilentService : public QDBusVirtualObject {
public:
    explicit SilentService(const QString& name)
        : name_(name)
        , bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, name)) {
        registered_ = bus_.registerVirtualObject(QStringLiteral("/"), this, QDBusConnection::SubPath) &&
                      bus_.registerService(name_);
    }
    ~SilentService() override {
        bus_.unregisterService(name_);
        bus_.unregisterObject(QStringLiteral("/"), QDBusConnection::UnregisterTree);
        QDBusConnection::disconnectFromBus(name_);
    }

    bool Registered() const { return registered_; }
    int Calls() const { return calls_; }

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage&, const QDBusConnection&) override {
        ++calls_;
        return true;
    }

private:
    QString name_;
    QDBusConnection bus_;
    bool registered_ = false;
    std::atomic<int> calls_{0};
};

// A socket that lets every bus client connect and never says a word to it.
class MuteSocket {
public:
    explicit MuteSocket(const std::string& path) {
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        listening_ = fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
                     ::listen(fd_, 16) == 0;
    }
    ~MuteSocket() { ::close(fd_); }
    bool Listening() const { return listening_; }

private:
    int fd_ = -1;
    bool listening_ = false;
};

class StuckBusStartTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        static int argc = 1;
        static char name[] = "StuckBusStartTest";
        static char* argv[] = {name, nullptr};
        application_ = new QCoreApplication(argc, argv);
    }
    static void TearDownTestSuite() {
        delete application_;
        application_ = nullptr;
    }

    void SetUp() override {
        ASSERT_TRUE(kOnPrivateBus) << "dbus-run-session is missing; scripts/install-deps installs it";
        ASSERT_TRUE(display_.Ready()) << "Xvfb is missing; scripts/install-deps installs it";
        // How long the start takes on this machine and this build with a bus whose services all answer.
        const Clock::time_point start = Clock::now();
        const pid_t pid = program_.Start(display_);
        const std::optional<double> drawn = display_.MillisUntilDrawn(start);
        ASSERT_TRUE(drawn) << "no window on a working bus";
        ASSERT_TRUE(Terminate(pid));
        healthy_ = *drawn;
    }

    // Starts the program and expects it drawn within the allowance of a healthy start, then ended by SIGTERM.
    void ExpectStartAndEnd(const std::string& busAddress = {}) {
        const Clock::time_point start = Clock::now();
        const pid_t pid = program_.Start(display_, busAddress);
        const std::optional<double> drawn = display_.MillisUntilDrawn(start);
        const std::optional<std::pair<int, double>> ended = Terminate(pid);
        ASSERT_TRUE(drawn) << "the window never showed its list";
        EXPECT_LT(*drawn, healthy_ + kAllowance.count()) << "a working bus shows it after " << healthy_ << " ms";
        ASSERT_TRUE(ended) << "SIGTERM did not end the program";
        EXPECT_EQ(ended->first, 128 + SIGTERM);
        EXPECT_LT(ended->second, kAllowance.count());
    }

    static inline QCoreApplication* application_ = nullptr;
    Display display_;
    Program program_;
    double healthy_ = 0;
};

TEST_F(StuckBusStartTest, ATrayWatcherThatNeverAnswersCostsOnlyTheIcon) {
    SilentService watcher(QStringLiteral("org.kde.StatusNotifierWatcher"));
    ASSERT_TRUE(watcher.Registered());
    ExpectStartAndEnd();
    EXPECT_GT(watcher.Calls(), 0) << "the program never asked the watcher, so this proved nothing";
}

TEST_F(StuckBusStartTest, AnAccessibilityServiceThatNeverAnswersDoesNotHoldTheWindow) {
    // Qt's accessibility bridge reads whether a screen reader is on from this service, and waits for it.
    SilentService accessibility(QStringLiteral("org.a11y.Bus"));
    ASSERT_TRUE(accessibility.Registered());
    ExpectStartAndEnd();
    EXPECT_GT(accessibility.Calls(), 0) << "nothing asked the service, so this proved nothing";
}

TEST_F(StuckBusStartTest, ABusThatNeverSpeaksNeitherHoldsTheWindowNorTheSignal) {
    TempDir dir;
    const MuteSocket mute(dir.File("bus"));
    ASSERT_TRUE(mute.Listening());
    const std::string address = "unix:path=" + dir.File("bus");
    ExpectStartAndEnd(address);

    // A signal as soon as the program has taken it over, before its windows are up, ends it just as soon.
    const pid_t pid = program_.Start(display_, address);
    bool ready = false;
    for (const Clock::time_point start = Clock::now(); !ready && Clock::now() < start + 30s;) {
        ready = CatchesSignal(pid, SIGTERM);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(ready) << "the program never took over SIGTERM";
    const std::optional<std::pair<int, double>> ended = Terminate(pid);
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->first, 128 + SIGTERM);
    EXPECT_LT(ended->second, kAllowance.count());
}

} // namespace
