// The real program, ended by the signals a logout or `kill` sends, goes through its close and keeps its list.
#include "runtime/Files.h"
#include "settings/Rc4Crypt.h"
#include "settings/SettingsFile.h"
#include "support/SignalWatch.h"
#include "support/TempDir.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// The exit status of `pid`, or -1 when it did not end within 20 s (it is then killed).
int WaitForExit(pid_t pid) {
    for (auto waited = 0ms; waited < 20s; waited += 10ms) {
        int status = 0;
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        }
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
}

// A loopback listener that never answers, standing in for the lookup page. The program asks it for its own address
// once its event loop runs and the window has been drawn, so its first connection says the program is running.
class SilentLookupPage {
public:
    SilentLookupPage() {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
            ::listen(listener_, 4) == 0 &&
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
            url_ = "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/";
        }
    }
    ~SilentLookupPage() {
        ::close(asked_);
        ::close(listener_);
    }

    const std::string& Url() const { return url_; }
    // Whether the program connected within 20 s; the connection is kept open and never answered.
    bool Asked() {
        pollfd wait{listener_, POLLIN, 0};
        if (::poll(&wait, 1, 20000) != 1) {
            return false;
        }
        asked_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        return asked_ >= 0;
    }

private:
    int listener_ = -1;
    int asked_ = -1;
    std::string url_;
};

TEST(EndOnSignalTest, TermHangupAndInterruptEndThroughTheCloseThatSaves) {
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SilentLookupPage lookupPage;
        ASSERT_FALSE(lookupPage.Url().empty());
        // A program directory of its own, where the list is kept beside a copy of the program.
        TempDir dir;
        const std::string program = dir.File("tolvar");
        std::filesystem::copy_file(TOLVAR, program);
        const std::string settings = dir.File("ms.ini");
        // The close saves the list it shows with a password line, which this file lacks.
        WriteTestFile(settings, Rc4Crypt(BytesFromText("127.0.0.1|1|a|p|n\r\n#Start:0\r\n"), kSettingsKey));
        const std::string saved = "127.0.0.1|1|a|p|n\r\n#Start:0\r\n#LoadinPass:<>\r\n";

        const pid_t child = ::fork();
        if (child == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("XDG_DATA_HOME", dir.File("data").c_str(), 1);
            ::setenv("XDG_CONFIG_HOME", dir.File("config").c_str(), 1);
            ::setenv("ASAN_OPTIONS", "detect_leaks=0", 1);
            ::setenv("TOLVAR_LOOKUP_URL", lookupPage.Url().c_str(), 1);
            ::execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ASSERT_GT(child, 0);
        bool ready = false;
        for (auto waited = 0ms; waited < 20s && !ready; waited += 10ms) {
            ready = CatchesSignal(child, signal);
            std::this_thread::sleep_for(10ms);
        }
        ASSERT_TRUE(ready) << "the program never took over signal " << signal;
        // Before its event loop runs the program ends at once, with nothing to save yet; the close is for later.
        ASSERT_TRUE(lookupPage.Asked()) << "the program never got to asking for its own address";
        ASSERT_EQ(::kill(child, signal), 0);
        EXPECT_EQ(WaitForExit(child), 128 + signal) << "signal " << signal;
        EXPECT_EQ(TextFromBytes(LoadSettings(settings)), saved) << "signal " << signal;
    }
}

} // namespace
