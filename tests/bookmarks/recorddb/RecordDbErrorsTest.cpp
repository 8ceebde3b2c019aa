#include "RecordDbFixture.h"
#include "runtime/Gbk.h"

#include <thread>

using namespace RecordDb;

namespace {

TEST(RecordDbErrors, EveryCodeHasItsMessage) {
    EXPECT_EQ(ErrorMessage(0), "");
    EXPECT_EQ(ErrorMessage(kErrNotDatabase), Gbk::FromUtf8("指定文件不是数据库文件"));
    EXPECT_EQ(ErrorMessage(kErrSharingViolation), Gbk::FromUtf8("访问文件时产生共享冲突"));
    EXPECT_EQ(ErrorMessage(kErrPassword), Gbk::FromUtf8("未提供数据库访问密码或提供了错误的密码"));
    EXPECT_EQ(ErrorMessage(-16), Gbk::FromUtf8("字段数目必须大于 0 "));
    EXPECT_EQ(ErrorMessage(-74), Gbk::FromUtf8("数据库的共享打开方式不是“#禁止读写”"));
    EXPECT_EQ(ErrorMessage(-80), Gbk::FromUtf8("无效的密码文本"));
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
