#include "AnswerPage.h"
#include "LoopbackHttp.h"
#include "runtime/Gbk.h"
#include "runtime/HttpFetch.h"
#include "tools/IpLookup.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <thread>

namespace {

IpLookup::LookupAnswer Ask(const LookupdProcess& service, const std::string& typed) {
    return IpLookup::ParseLookupAnswer(
        IpLookup::PageTextOf(HttpGet(IpLookup::QueryAddress(service.Url(), typed), HttpLimits{2000, 5000})));
}

std::string Get(const std::string& target) {
    return "GET " + target + " HTTP/1.0\r\n\r\n";
}

TEST(LookupdTest, KnownAddressesGiveTheirCountryInChinese) {
    LookupdProcess service;
    const std::vector<std::pair<std::string, std::string>> known{
        {"8.8.8.8", "美国"}, {"114.114.114.114", "中国"}, {"202.12.27.33", "日本"}, {"193.0.6.139", "荷兰"}};
    for (const auto& [address, country] : known) {
        const IpLookup::LookupAnswer answer = Ask(service, address);
        EXPECT_FALSE(answer.nothingFound) << address;
        EXPECT_EQ(answer.address, address);
        EXPECT_EQ(Gbk::ToUtf8(answer.location), country) << address;
    }
    // The number between the arrows is the address as one decimal value.
    const std::string page = BodyOf(RawExchange(service.Port(), Get("/?IP=8.8.8.8")));
    EXPECT_NE(page.find("8.8.8.8 ==>> 134744072 ==>> "), std::string::npos);
    // The caller sees its own address, which on loopback has no country.
    const IpLookup::OwnAddress own = IpLookup::ParseOwnAddress(IpLookup::PageTextOf(HttpGet(service.Url())));
    EXPECT_EQ(own.address, "127.0.0.1");
    EXPECT_EQ(own.location, "");
}

TEST(LookupdTest, PrivateUnknownAndMalformedAddressesGiveTheEmptyStatus) {
    LookupdProcess service({"--no-resolve"});
    for (const std::string typed : {"10.1.2.3", "192.168.1.1", "127.0.0.1", "0.0.0.0", "300.1.2.3", "1.2.3",
                                    "8.8.8.8 -t", "", "localhost", "not a name!"}) {
        const IpLookup::LookupAnswer answer = Ask(service, typed);
        EXPECT_TRUE(answer.nothingFound) << typed;
        EXPECT_EQ(answer.address, "") << typed;
    }
}

TEST(LookupdTest, NamesAreResolvedUnlessSwitchedOff) {
    // localhost comes from the hosts file and is a loopback address, so it resolves but has no country.
    LookupdProcess service;
    const std::string page = BodyOf(RawExchange(service.Port(), Get("/?IP=localhost")));
    EXPECT_NE(page.find("<span id=\"status\" class=\"info1\">\r\n" + std::string(32, ' ')), std::string::npos);
    EXPECT_TRUE(IsHostName("localhost"));
    EXPECT_TRUE(IsHostName("a-b.example"));
    for (const std::string_view notName : {"1.2.3.4", "300.1.2.3", "a..b", "-", "a b", "x_y", ""}) {
        EXPECT_FALSE(IsHostName(notName)) << notName;
    }
    EXPECT_FALSE(IsHostName(std::string(64, 'a')));
}

TEST(LookupdTest, BadRequestsAreRefusedAndTheServiceKeepsServing) {
    LookupdProcess service;
    const std::uint16_t port = service.Port();
    EXPECT_EQ(StatusOf(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nno colon here\r\n\r\n")), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nContent-Length: 5\r\n\r\nhello")), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/?IP=" + std::string(300, '1')))), 400);
    EXPECT_EQ(StatusOf(RawExchange(port, "POST / HTTP/1.0\r\nContent-Length: 2\r\n\r\nab")), 405);
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/other"))), 404);
    // Heads past the per-connection memory bound are refused by the server library itself.
    const int huge =
        StatusOf(RawExchange(port, "GET / HTTP/1.1\r\nHost: x\r\nX: " + std::string(40000, 'x') + "\r\n\r\n"));
    EXPECT_GE(huge, 400);
    EXPECT_LT(huge, 500);
    // Lines that are no HTTP at all get no page.
    EXPECT_NE(StatusOf(RawExchange(port, "GARBAGE\r\n\r\n", 1)), 200);
    EXPECT_NE(StatusOf(RawExchange(port, std::string("\0\x01\x02\r\n\r\n", 7), 1)), 200);

    EXPECT_TRUE(service.Running());
    EXPECT_EQ(StatusOf(RawExchange(port, Get("/?IP=8.8.8.8"))), 200);
    EXPECT_EQ(service.Stop(), 0);
}

TEST(LookupdTest, ServesManyClientsAtOnce) {
    LookupdProcess service;
    std::vector<std::thread> clients;
    std::atomic<int> answered{0};
    for (int i = 0; i < 40; ++i) {
        clients.emplace_back([&] {
            if (Gbk::ToUtf8(Ask(service, "114.114.114.114").location) == "中国") {
                ++answered;
            }
        });
    }
    for (std::thread& client : clients) {
        client.join();
    }
    EXPECT_EQ(answered, 40);
}

TEST(LookupdTest, OptionsAreCheckedBeforeListening) {
    const auto run = [](const std::string& arguments) {
        const std::string command = std::string(TOLVAR_LOOKUPD) + " " + arguments + " >/dev/null 2>&1";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(run("--help"), 0);
    EXPECT_EQ(run("--listen 127.0.0.1"), 2);
    EXPECT_EQ(run("--listen 127.0.0.1:70000"), 2);
    EXPECT_EQ(run("--bogus"), 2);
    EXPECT_EQ(run("--listen 127.0.0.1:0 --database /nonexistent/GeoIP.dat"), 1);
}

} // namespace
