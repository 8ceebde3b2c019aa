#include "RecordDbFixture.h"
#include "runtime/Gbk.h"

#include <thread>

using namespace RecordDb;

namespace {

TEST(RecordDbErrors, EveryCodeHasItsMessage) {
    EXPECT_EQ(ErrorMessage(0), "");
    const std::string unknown = Gbk::FromUtf8("未知错误");
    EXPECT_EQ(ErrorMessage(-1), unknown);
    // Every code from -2 to -80 but -77 has a message of its own.
    for (int code = -2; code >= -80; --code) {
        const bool unassigned = code == -77;
        EXPECT_EQ(ErrorMessage(code) == unknown, unassigned) << code;
    }
    EXPECT_EQ(ErrorMessage(-81), unknown);
    EXPECT_EQ(ErrorMessage(5), unknown);
}

TEST(RecordDbErrors, LastErrorBelongsToEachThread) {
    CloseAll();
    EXPECT_FALSE(Skip(1));
    EXPECT_EQ(LastError(), kErrNoCurrentTable);
    int seen = 1;
    std::thread([&] { seen = LastError(); }).join();
    EXPECT_EQ(seen, kOk);
    std::thread([] { EXPECT_FALSE(Open("/nonexistent/t.edb")); }).join();
    EXPECT_EQ(LastError(), kErrNoCurrentTable);
    Close();
    EXPECT_EQ(LastError(), kOk);
}

} // namespace
