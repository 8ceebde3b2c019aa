// The real FreeRDP client, started by the real launcher, against a real RDP server on loopback: Debian's
// shadow server sharing a virtual screen of its own, with an NTLM account for its network-level login. The
// client draws on a second virtual screen that a window manager runs, so that its window's size and state are
// what a desktop would give it.
#include "StandInClient.h"
#include "runtime/DetachedProcess.h"
#include "runtime/Files.h"
#include "runtime/MsgBox.h"
#include "runtime/TcpConnect.h"
#include "servers/ConnectToServer.h"

#include <QTest>
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <regex>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace std::chrono_literals;

const char* const kPrograms[] = {"Xvfb",     "openbox", "freerdp-shadow-cli", "winpr-hash", "xfreerdp",
                                 "xwininfo", "xprop"};
const std::string kAccount = "tester";
const std::string kPassword = "Secret1";
constexpr int kClientWidth = 1280;
constexpr int kClientHeight = 1024;

// The environment of this process with `changes` ("NAME=value") put in.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& changes) {
    std::vector<std::string> result;
    for (char** at = environ; *at != nullptr; ++at) {
        const std::string entry = *at;
        const bool replaced = std::any_of(changes.begin(), changes.end(), [&](const std::string& change) {
            return entry.compare(0, change.find('=') + 1, change, 0, change.find('=') + 1) == 0;
        });
        if (!replaced) {
            result.push_back(entry);
        }
    }
    result.insert(result.end(), changes.begin(), changes.end());
    return result;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// A program this test started: its standard output and error go to `log` (or `output`, a descriptor), and it
// is ended, by its own process id, when the object goes.
class Child {
public:
    Child(std::vector<std::string> arguments, std::vector<std::string> environment, const std::string& log,
          int extraDescriptor = -1) {
        const std::string program = FindOnPath(arguments.front());
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (extraDescriptor >= 0) {
            posix_spawn_file_actions_adddup2(&actions, extraDescriptor, 3);
        }
        std::vector<char*> argv = Pointers(arguments);
        std::vector<char*> envp = Pointers(environment);
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { End(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }

    // Whether it ended within `patience`, with its exit code in `code`.
    bool Wait(std::chrono::milliseconds patience, int& code) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (pid_ > 0) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
                return true;
            }
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    void End() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        int code = 0;
        if (!Wait(3s, code)) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    pid_t pid_ = -1;
};

// What a short-lived program writes on its standard output.
std::string OutputOf(const std::vector<std::string>& arguments, const std::vector<std::string>& environment,
                     const std::string& scratch) {
    std::filesystem::remove(scratch);
    Child child(arguments, EnvironmentWith(environment), scratch);
    int code = 0;
    if (!child.Wait(10s, code)) {
        return "";
    }
    const Bytes output = ReadWholeFile(scratch);
    return {output.begin(), output.end()};
}

// A port that nothing held on 127.0.0.1 nor on ::1 a moment ago.
std::uint16_t FreePort() {
    for (;;) {
        const int four = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        ::bind(four, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::getsockname(four, reinterpret_cast<sockaddr*>(&address), &length);
        const int six = ::socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_addr = in6addr_loopback;
        address6.sin6_port = address.sin_port;
        const bool free = ::bind(six, reinterpret_cast<sockaddr*>(&address6), sizeof address6) == 0;
        ::close(six);
        ::close(four);
        if (free) {
            return ntohs(address.sin_port);
        }
    }
}

// The client's window as the window manager has it.
struct ClientWindow {
    std::string id;
    std::string name;
    int width = 0;
    int height = 0;
    std::string state;
    int pid = 0;
};

class RealFreeRdp : public ::testing::Test {
protected:
    void SetUp() override {
        std::string missing;
        for (const char* program : kPrograms) {
            if (FindOnPath(program).empty()) {
                missing += std::string(missing.empty() ? "" : ", ") + program;
            }
        }
        if (!missing.empty()) {
            GTEST_SKIP() << "no real FreeRDP here (" << missing << " missing; scripts/install-deps installs them)";
        }
        for (const char* name : {"config", "data", "run", "tmp"}) {
            std::filesystem::create_directory(home_.File(name));
            ::chmod(home_.File(name).c_str(), 0700);
        }
        env_.emplace_back(std::make_unique<ScopedEnv>("HOME", home_.Path()));
        env_.emplace_back(std::make_unique<ScopedEnv>("XDG_CONFIG_HOME", home_.File("config")));
        env_.emplace_back(std::make_unique<ScopedEnv>("XDG_DATA_HOME", home_.File("data")));
        env_.emplace_back(std::make_unique<ScopedEnv>("XDG_RUNTIME_DIR", home_.File("run")));
        env_.emplace_back(std::make_unique<ScopedEnv>("TMPDIR", home_.File("tmp")));

        // The server shares a screen the size of the small window; the client's screen is larger.
        serverDisplay_ = StartScreen("800x600x24", serverScreen_);
        clientDisplay_ =
            StartScreen(std::to_string(kClientWidth) + "x" + std::to_string(kClientHeight) + "x24", clientScreen_);
        ASSERT_FALSE(serverDisplay_.empty());
        ASSERT_FALSE(clientDisplay_.empty());
        windowManager_ = std::make_unique<Child>(std::vector<std::string>{"openbox", "--sm-disable"},
                                                 EnvironmentWith({"DISPLAY=" + clientDisplay_}), Log("openbox"));
        ASSERT_TRUE(Eventually([&] {
            return X({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") != std::string::npos;
        })) << "the window manager did not start on "
            << clientDisplay_ << ":\n"
            << TextFromBytes(ReadWholeFile(Log("openbox"))) << TextFromBytes(ReadWholeFile(home_.File("x.out")));

        const std::string sam =
            OutputOf({"winpr-hash", "-u", kAccount, "-p", kPassword, "-f", "sam"}, {}, home_.File("winpr-hash.out"));
        ASSERT_NE(sam.find(kAccount + ":::"), std::string::npos) << sam;
        WriteTestFile(home_.File("SAM"), BytesFromText(sam));

        port_ = FreePort();
        server_ =
            std::make_unique<Child>(std::vector<std::string>{"freerdp-shadow-cli", "/bind-address:127.0.0.1,[::1]",
                                                             "/port:" + std::to_string(port_),
                                                             "/sam-file:" + home_.File("SAM"), "/sec:nla", "+auth"},
                                    EnvironmentWith({"DISPLAY=" + serverDisplay_}), Log("server"));
        ASSERT_TRUE(Eventually([&] {
            return Tcp::ConnectAccepted(Tcp::Resolve("127.0.0.1"), port_, 1s) &&
                   Tcp::ConnectAccepted(Tcp::Resolve("::1"), port_, 1s);
        })) << "the RDP server did not start:\n"
            << TextFromBytes(ReadWholeFile(Log("server"))) << "\nits screen " << serverDisplay_ << ":\n"
            << TextFromBytes(ReadWholeFile(Log("xvfb")));
        // The client finds its display where the launcher starts it.
        env_.emplace_back(std::make_unique<ScopedEnv>("DISPLAY", clientDisplay_));
        // A box is recorded, never shown: one nobody expected must fail the test, not hold it.
        MsgBox::ClearAnswered();
        MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    }

    void TearDown() override {
        if (std::optional<ClientWindow> window = FindClientWindow(); window && window->pid > 0) {
            ::kill(window->pid, SIGTERM);
        }
        MsgBox::ClearAnswered();
    }

    std::string Log(const std::string& name) const { return home_.File(name + ".log"); }

    // Starts a virtual screen of `geometry` and gives its display name, once the screen answers. The screen
    // never resets: by default it does when its last client leaves, and a client connecting meanwhile fails.
    std::string StartScreen(const std::string& geometry, std::unique_ptr<Child>& screen) {
        for (int attempt = 0; attempt < 4; ++attempt) {
            const std::string display = StartScreenOnce(geometry, screen);
            if (!display.empty() && Eventually(
                                        [&] {
                                            return OutputOf({"xdpyinfo"}, {"DISPLAY=" + display},
                                                            home_.File("xdpyinfo.out"))
                                                       .find("name of display") != std::string::npos;
                                        },
                                        5s)) {
                return display;
            }
            screen.reset();
        }
        return "";
    }

    std::string StartScreenOnce(const std::string& geometry, std::unique_ptr<Child>& screen) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            return "";
        }
        screen = std::make_unique<Child>(std::vector<std::string>{"Xvfb", "-displayfd", "3", "-screen", "0", geometry,
                                                                  "-nolisten", "tcp", "-noreset"},
                                         EnvironmentWith({}), Log("xvfb"), fds[1]);
        ::close(fds[1]);
        std::string number;
        pollfd readable{fds[0], POLLIN, 0};
        char c = 0;
        while (::poll(&readable, 1, 10000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n') {
            number += c;
        }
        ::close(fds[0]);
        return number.empty() ? "" : ":" + number;
    }

    // An X utility's answer about the client's screen.
    std::string X(const std::vector<std::string>& arguments) const {
        return OutputOf(arguments, {"DISPLAY=" + clientDisplay_}, home_.File("x.out"));
    }

    // Waits, keeping the event loop going, until `done` holds; false when it did not within `patience`.
    static bool Eventually(const std::function<bool()>& done, std::chrono::milliseconds patience = 20s) {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline) {
                return false;
            }
            QTest::qWait(50);
        }
        return true;
    }

    std::optional<ClientWindow> FindClientWindow() const {
        if (clientDisplay_.empty()) {
            return std::nullopt;
        }
        static const std::regex line(R"re((0x[0-9a-f]+) "([^"]*)": \("xfreerdp" "xfreerdp"\))re");
        std::smatch match;
        const std::string tree = X({"xwininfo", "-root", "-tree"});
        if (!std::regex_search(tree, match, line)) {
            return std::nullopt;
        }
        ClientWindow window;
        window.id = match[1];
        window.name = match[2];
        const std::string info = X({"xwininfo", "-id", window.id});
        if (std::regex_search(info, match, std::regex(R"(Width: (\d+))"))) {
            window.width = std::stoi(match[1]);
        }
        if (std::regex_search(info, match, std::regex(R"(Height: (\d+))"))) {
            window.height = std::stoi(match[1]);
        }
        window.state = X({"xprop", "-id", window.id, "_NET_WM_STATE"});
        const std::string pid = X({"xprop", "-id", window.id, "_NET_WM_PID"});
        if (std::regex_search(pid, match, std::regex(R"(= (\d+))"))) {
            window.pid = std::stoi(match[1]);
        }
        return window;
    }

    ServerEntry Entry(const std::string& host, const std::string& password) const {
        ServerEntry entry;
        entry.host = host;
        entry.port = std::to_string(port_);
        entry.account = kAccount;
        entry.password = password;
        return entry;
    }

    // Connects as the page does and waits until the window manager shows the session's window as `wanted`
    // would have it; the window as last seen.
    std::optional<ClientWindow> ConnectAndWait(const ServerEntry& entry, bool fullScreen,
                                               const std::function<bool(const ClientWindow&)>& wanted) {
        ConnectToServer(entry, {false, fullScreen}, false, &context_);
        std::optional<ClientWindow> window;
        Eventually([&] {
            window = FindClientWindow();
            return window && wanted(*window);
        });
        return window;
    }

    TempDir home_;
    std::vector<std::unique_ptr<ScopedEnv>> env_;
    std::unique_ptr<Child> serverScreen_;
    std::unique_ptr<Child> clientScreen_;
    std::unique_ptr<Child> windowManager_;
    std::unique_ptr<Child> server_;
    std::string serverDisplay_;
    std::string clientDisplay_;
    std::uint16_t port_ = 0;
    QObject context_;
};

bool IsFullScreen(const ClientWindow& window) {
    return window.state.find("_NET_WM_STATE_FULLSCREEN") != std::string::npos;
}

TEST_F(RealFreeRdp, TheStoredAccountAndPasswordLogInAndTheSmallScreenIsAWindowOf800By600) {
    const std::optional<ClientWindow> window = ConnectAndWait(Entry("127.0.0.1", kPassword), false, [](auto& w) {
        return w.width == 800 && w.height == 600 && !IsFullScreen(w);
    });
    ASSERT_TRUE(window) << "no session window"
                        << (MsgBox::Answered().empty() ? "" : ": " + MsgBox::Answered().front().text.toStdString());
    EXPECT_EQ(window->width, 800);
    EXPECT_EQ(window->height, 600);
    EXPECT_FALSE(IsFullScreen(*window)) << window->state;
    EXPECT_EQ(window->name, "FreeRDP: 127.0.0.1:" + std::to_string(port_));
    // The session runs on for a while (a client that gave up would be gone by then), and ending it as a user
    // would raises no box.
    QTest::qWait(1000);
    ASSERT_TRUE(FindClientWindow());
    ::kill(window->pid, SIGTERM);
    EXPECT_TRUE(Eventually([&] { return !FindClientWindow(); }));
    // A box for the client's end would come within this time; none must.
    QTest::qWait(300);
    EXPECT_TRUE(MsgBox::Answered().empty()) << MsgBox::Answered().front().text.toStdString();
}

TEST_F(RealFreeRdp, TheFullScreenFillsTheScreen) {
    const std::optional<ClientWindow> window = ConnectAndWait(Entry("127.0.0.1", kPassword), true, [](auto& w) {
        return w.width == kClientWidth && w.height == kClientHeight && IsFullScreen(w);
    });
    ASSERT_TRUE(window) << "no session window";
    EXPECT_EQ(window->width, kClientWidth);
    EXPECT_EQ(window->height, kClientHeight);
    EXPECT_TRUE(IsFullScreen(*window)) << window->state;
}

TEST_F(RealFreeRdp, AnIpv6AddressLogsIn) {
    const std::optional<ClientWindow> window =
        ConnectAndWait(Entry("::1", kPassword), false, [](auto& w) { return w.width == 800; });
    ASSERT_TRUE(window) << "no session window over IPv6"
                        << (MsgBox::Answered().empty() ? "" : ": " + MsgBox::Answered().front().text.toStdString());
    EXPECT_EQ(window->width, 800);
    EXPECT_NE(window->name.find("::1"), std::string::npos) << window->name;
}

TEST_F(RealFreeRdp, AWrongPasswordIsToldAsSuch) {
    ConnectToServer(Entry("127.0.0.1", "Wrong1"), {false, false}, false, &context_);
    ASSERT_TRUE(Eventually([] { return !MsgBox::Answered().empty(); })) << "no box for the refused login";
    const QString text = MsgBox::Answered().front().text;
    EXPECT_TRUE(text.contains(QStringLiteral("账号或密码错误"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QStringLiteral("不可达"))) << text.toStdString();
    EXPECT_FALSE(FindClientWindow());
}

} // namespace
