#include "LoopbackHttp.h"
#include "runtime/Gbk.h"
#include "runtime/HttpFetch.h"
#include "tools/IpLookup.h"

#include <chrono>
#include <gtest/gtest.h>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::string kUtf8Page =
    "<p>您的IP:[<strong class=\"red\">198.51.100.4</strong>] 来自:<strong>荷兰</strong></p>\r\n"
    "<span id=\"status\" class=\"info1\">\r\nok\r\n上面三项依次显示的是\r\n"
    "<strong class=\"red\">查询结果[1]: 8.8.8.8 ==>> 134744072 ==>> 美国</strong><br />\r\n";

std::string Fetch(const std::string& address, const HttpLimits& limits = {}) {
    return IpLookup::PageTextOf(HttpGet(address, limits).body);
}

void Wait(const std::atomic<bool>& stopping) {
    while (!stopping) {
        std::this_thread::sleep_for(5ms);
    }
}

TEST(LookupFetchTest, SendsTheRequestAsTypedWithBlanksEscapedAndHashCut) {
    LoopbackHttpServer server(
        [](int socket, const std::string&, const std::atomic<bool>&) { SendResponse(socket, "200 OK", kUtf8Page); });
    const IpLookup::LookupAnswer answer =
        IpLookup::ParseLookupAnswer(Fetch(IpLookup::QueryAddress(server.Url(), "8.8.8.8 -t")));
    EXPECT_EQ(answer.address, "8.8.8.8");
    EXPECT_EQ(answer.location, Gbk::FromUtf8("美国"));
    Fetch(IpLookup::QueryAddress(server.Url(), "10.0.0.1#anchor -t"));
    Fetch(IpLookup::QueryAddress(server.Url(), " x+y%41"));
    Fetch(IpLookup::QueryAddress(server.Url(), Gbk::FromUtf8("中国.cn")));

    const std::vector<std::string> targets = server.Targets();
    ASSERT_EQ(targets.size(), 4u);
    EXPECT_EQ(targets[3], "/?IP=" + Gbk::FromUtf8("中国.cn"));
    EXPECT_EQ(targets[0], "/?IP=8.8.8.8%20-t");
    EXPECT_EQ(targets[1], "/?IP=10.0.0.1");
    EXPECT_EQ(targets[2], "/?IP=%20x+y%41");
    const std::string head = server.Heads()[0];
    EXPECT_EQ(head.substr(0, head.find("\r\n")), "GET /?IP=8.8.8.8%20-t HTTP/1.0");
    EXPECT_NE(head.find("\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.0)\r\n"), std::string::npos);
    EXPECT_NE(head.find("\r\nAccept: */*\r\n"), std::string::npos);
}

TEST(LookupFetchTest, FollowsRedirectsAndReadsErrorBodiesAlike) {
    LoopbackHttpServer server([](int socket, const std::string& target, const std::atomic<bool>&) {
        if (target == "/") {
            SendResponse(socket, "302 Found", "moved", "Location: /moved\r\n");
        } else {
            SendResponse(socket, "404 Not Found", kUtf8Page);
        }
    });
    const IpLookup::OwnAddress own = IpLookup::ParseOwnAddress(Fetch(server.Url()));
    EXPECT_EQ(own.address, "198.51.100.4");
    EXPECT_EQ(own.location, Gbk::FromUtf8("荷兰"));
    EXPECT_EQ(server.Targets(), (std::vector<std::string>{"/", "/moved"}));
}

TEST(LookupFetchTest, UnconvertibleAnswersGiveEmptyPageText) {
    LoopbackHttpServer server([](int socket, const std::string& target, const std::atomic<bool>&) {
        // A lone continuation byte, then a character GBK lacks, each inside an otherwise valid page.
        SendResponse(socket, "200 OK", kUtf8Page + (target == "/bad" ? "\x80" : "\xF0\x9F\x98\x80"));
    });
    EXPECT_EQ(Fetch(server.Url("/bad")), "");
    EXPECT_EQ(Fetch(server.Url("/emoji")), "");
}

TEST(LookupFetchTest, StalledOrDeadServersEndWithinTheBounds) {
    LoopbackHttpServer silent([](int, const std::string&, const std::atomic<bool>& stopping) { Wait(stopping); });
    LoopbackHttpServer partial([](int socket, const std::string&, const std::atomic<bool>& stopping) {
        SendAll(socket, "HTTP/1.0 200 OK\r\n\r\n<p>partial");
        Wait(stopping);
    });
    const HttpLimits shortLimits{300, 600, 1024};
    auto start = Clock::now();
    const HttpReply silence = HttpGet(silent.Url(), shortLimits);
    EXPECT_TRUE(silence.body.empty());
    EXPECT_EQ(silence.outcome.Reason(), std::errc::timed_out);
    const HttpReply cut = HttpGet(partial.Url(), shortLimits);
    EXPECT_EQ(TextFromBytes(cut.body), "<p>partial");
    EXPECT_EQ(cut.outcome.Reason(), std::errc::timed_out) << "what arrived is kept, and still told as a failure";
    // Both servers stall until they go; only the bounds end the fetches, however loaded the machine.
    EXPECT_LT(Clock::now() - start, 20s);

    // Nothing listens on a port the kernel just handed out and took back.
    std::uint16_t closedPort = 0;
    {
        LoopbackHttpServer gone([](int, const std::string&, const std::atomic<bool>&) {});
        closedPort = gone.Port();
    }
    const HttpReply refused = HttpGet("http://127.0.0.1:" + std::to_string(closedPort) + "/", shortLimits);
    EXPECT_TRUE(refused.body.empty());
    EXPECT_EQ(refused.outcome.Reason(), std::errc::connection_refused);
    EXPECT_EQ(refused.outcome.error().doing, "fetching http://127.0.0.1:" + std::to_string(closedPort) + "/");

    // A fetch is given up as soon as it is cancelled, once its request is in, long before its own bounds.
    std::atomic<bool> cancel{false};
    const std::size_t asked = silent.Heads().size();
    std::thread canceller([&] {
        for (int wait = 0; wait < 3000 && silent.Heads().size() == asked; ++wait) {
            std::this_thread::sleep_for(10ms);
        }
        cancel = true;
    });
    start = Clock::now();
    const HttpReply cancelled = HttpGet(silent.Url(), HttpLimits{60000, 120000}, &cancel);
    EXPECT_TRUE(cancelled.body.empty());
    EXPECT_EQ(cancelled.outcome.Reason(), std::errc::operation_canceled);
    EXPECT_LT(Clock::now() - start, 40s);
    canceller.join();
}

TEST(LookupFetchTest, AHugeBodyIsCutAtTheLimit) {
    LoopbackHttpServer server([](int socket, const std::string&, const std::atomic<bool>&) {
        const std::string chunk(64 * 1024, 'a');
        bool open = SendAll(socket, "HTTP/1.0 200 OK\r\nContent-Length: 52428800\r\n\r\n");
        for (int sent = 0; open && sent < 800; ++sent) { // 800 x 64 KiB = 50 MiB
            open = SendAll(socket, chunk);
        }
    });
    const auto start = Clock::now();
    const Bytes body = HttpGet(server.Url()).body;
    EXPECT_EQ(body.size(), HttpLimits{}.maxBody);
    // Well inside the ten seconds the fetch may take at most.
    EXPECT_LT(Clock::now() - start, 9s);
    EXPECT_EQ(IpLookup::ParseLookupAnswer(IpLookup::PageTextOf(body)).address, "");
}

} // namespace
