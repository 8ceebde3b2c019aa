#include "servers/Probe.h"
#include "LoopbackPeers.h"
#include "runtime/Gbk.h"
#include "runtime/TcpConnect.h"
#include "support/Loopback.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstddef>
#include <cstring>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <map>
#include <mutex>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

TEST(ProbeTest, PortTextsConvertAsTheStringToIntegerRuleReadsThem) {
    const std::vector<std::pair<std::string, std::uint16_t>> cases{
        {"3389", 3389},
        {"  +3389x", 3389},
        {"\t\n3389", 3389},
        {"abc", 1},
        {"", 1},
        {"0", 1},
        {"-5", 1},
        {"- 5", 1},
        {"65535", 65535},
        {"65536", 0}, // only the low 16 bits count
        {"70000", 70000 - 65536},
        {"99999999999", 65535}, // saturates at the largest int, whose low bits are all ones
        {Gbk::FromUtf8("３３８９"), 3389},
        {Gbk::FromUtf8("　＋８０"), 80},
        {Gbk::FromUtf8("－８０"), 1},
        {Gbk::FromUtf8("端口"), 1},
        {Gbk::FromUtf8("8０8"), 808},
    };
    for (const auto& [text, port] : cases) {
        EXPECT_EQ(ProbePort(text), port) << Gbk::ToUtf8(text);
    }
}

const Tcp::Address kLoopback4{Tcp::Address::Family::Ipv4, {127, 0, 0, 1}};
const Tcp::Address kLoopback6{Tcp::Address::Family::Ipv6, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}};

TEST(ProbeTest, AddressesStandForThemselvesAndNamesAreLookedUp) {
    using Addresses = std::vector<Tcp::Address>;
    EXPECT_EQ(Tcp::Resolve("127.0.0.1"), Addresses{kLoopback4});
    EXPECT_EQ(Tcp::Resolve("127.1"), Addresses{kLoopback4});
    EXPECT_EQ(Tcp::Resolve("::1"), Addresses{kLoopback6});
    EXPECT_EQ(Tcp::Resolve("[::1]"), Addresses{kLoopback6});
    EXPECT_EQ(Tcp::Resolve("0:0::1"), Addresses{kLoopback6});
    const Addresses local = Tcp::Resolve("localhost");
    ASSERT_FALSE(local.empty());
    EXPECT_EQ(local.front(), kLoopback4);
    EXPECT_TRUE(Tcp::Resolve("").empty());
}

TEST(ProbeTest, AnIpv6ServerIsOnlineBareAndInBrackets) {
    const Listener listener(128, Loopback::Ipv6);
    const ClosedPort closed(Loopback::Ipv6);
    EXPECT_EQ(ProbeEntry("::1", listener.PortText(), 5s), ServerStatus::Online);
    EXPECT_EQ(ProbeEntry("[::1]", listener.PortText(), 5s), ServerStatus::Online);
    EXPECT_EQ(ProbeEntry("::1", closed.PortText(), 5s), ServerStatus::Offline);
    // The IPv6 listener is not there for IPv4.
    EXPECT_EQ(ProbeEntry("127.0.0.1", listener.PortText(), 5s), ServerStatus::Offline);
}

// Makes a network and a hosts file of this process's own, so that names can be tried without asking any name
// server: `hosts` stands for /etc/hosts and only the loopback device is up. False when the system lets no
// process have them.
bool EnterPrivateNetwork(const std::string& hosts) {
    if (::unshare(CLONE_NEWNS | CLONE_NEWNET) != 0 ||
        ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        return false;
    }
    char file[] = "/tmp/tolvar-hosts-XXXXXX";
    const int fd = ::mkstemp(file);
    const bool written = fd >= 0 && ::write(fd, hosts.data(), hosts.size()) == static_cast<ssize_t>(hosts.size());
    if (fd >= 0) {
        ::close(fd);
    }
    const bool bound = written && ::mount(file, "/etc/hosts", nullptr, MS_BIND, nullptr) == 0;
    ::unlink(file);
    return bound && BringLoopbackUp();
}

// Whether a child may have a network and mounts of its own; the child makes only system calls, so it is safe
// to fork whatever threads run.
bool PrivateNetworksAllowed() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(::unshare(CLONE_NEWNS | CLONE_NEWNET) == 0 ? 0 : 1);
    }
    int status = 0;
    return child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(ProbeTest, NamesWithOnlyIpv6AddressesAreReachedAndIpv4ComesFirst) {
    if (!PrivateNetworksAllowed()) {
        GTEST_SKIP() << "a network and hosts file of its own are not allowed here";
    }
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (!EnterPrivateNetwork("::1 both.test\n127.0.0.1 both.test\n::1 only6.test\n")) {
                std::_Exit(2);
            }
            const Listener listener(128, Loopback::Ipv6);
            const ClosedPort closed(Loopback::Ipv6);
            // The hosts file names ::1 first; the probe still tries IPv4 first.
            if (Tcp::Resolve("both.test") != std::vector<Tcp::Address>{kLoopback4, kLoopback6}) {
                std::_Exit(3);
            }
            if (ProbeEntry("only6.test", listener.PortText(), 5s) != ServerStatus::Online ||
                ProbeEntry("only6.test", closed.PortText(), 5s) != ServerStatus::Offline) {
                std::_Exit(4);
            }
            // Refused over IPv4, so the IPv6 address gets its turn.
            std::_Exit(ProbeEntry("both.test", listener.PortText(), 5s) == ServerStatus::Online ? 0 : 5);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(ProbeTest, AListenerIsOnlineAndAClosedPortOffline) {
    const Listener listener;
    const ClosedPort closed;
    EXPECT_EQ(ProbeEntry("127.0.0.1", listener.PortText(), 5s), ServerStatus::Online);
    EXPECT_EQ(ProbeEntry("localhost", Gbk::FromUtf8(" ") + listener.PortText(), 5s), ServerStatus::Online);
    EXPECT_EQ(ProbeEntry("127.0.0.1", closed.PortText(), 5s), ServerStatus::Offline);
}

TEST(ProbeTest, TheConnectTimeCoversTheWholeAttemptAndOnlyAnAttempt) {
    const SilentPort silent;
    std::chrono::microseconds connectTime = -1us;
    EXPECT_EQ(ProbeEntry("", silent.PortText(), 300ms, &connectTime), ServerStatus::Offline);
    EXPECT_EQ(connectTime, -1us) << "a host that names no address was timed";
    EXPECT_EQ(ProbeEntry("127.0.0.1", silent.PortText(), 300ms, &connectTime), ServerStatus::Offline);
    EXPECT_GE(connectTime, 300ms) << "the time stopped before the attempt gave up";
}

TEST(ProbeTest, ANonNumericPortIsProbedOnPortOne) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "port 1 needs root";
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(1);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 4) != 0) {
        ::close(fd);
        GTEST_SKIP() << "port 1 is taken";
    }
    EXPECT_EQ(ProbeEntry("127.0.0.1", "rdp", 5s), ServerStatus::Online);
    EXPECT_EQ(ProbeEntry("127.0.0.1", "-3389", 5s), ServerStatus::Online);
    ::close(fd);
}

// Kills the process on its first socket() call: proof that nothing went out on the network.
void ForbidSockets() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_socket, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::_Exit(3);
    }
}

TEST(ProbeTest, AnEmptyHostFailsAtOnceWithoutOpeningASocket) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            ForbidSockets();
            std::_Exit(ProbeEntry("", "3389", 21s) == ServerStatus::Offline ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
    // The same filter does stop a real attempt.
    EXPECT_EXIT(
        {
            ForbidSockets();
            ProbeEntry("127.0.0.1", "3389", 1s);
            std::_Exit(0);
        },
        ::testing::KilledBySignal(SIGSYS), "");
}

} // namespace
