#include "runtime/FatalError.h"
#include "runtime/Gbk.h"

#include <gtest/gtest.h>

namespace {

TEST(FatalErrorTest, TextLaysOutCodeAndMessage) {
    EXPECT_EQ(Gbk::ToUtf8(FatalErrorText(-22, Gbk::FromUtf8("指定字段不存在"))),
              "运行时出错!\r\n\r\n错误代码：-22\r\n\r\n错误信息：指定字段不存在\r\n");
    EXPECT_EQ(Gbk::ToUtf8(FatalErrorText(std::nullopt, Gbk::FromUtf8("坏了"))),
              "运行时出错!\r\n\r\n错误信息：坏了\r\n");
    EXPECT_EQ(Gbk::ToUtf8(FatalErrorText(7, "")), "运行时出错!\r\n\r\n错误代码：7\r\n\r\n");
}

TEST(FatalErrorDeathTest, EndsTheProcessWithMinusOneAfterShowingTheText) {
    EXPECT_EXIT(
        {
            SetFatalErrorPresenter([](const std::string& text) { fputs(Gbk::ToUtf8(text).c_str(), stderr); });
            FatalError(std::nullopt, Gbk::FromUtf8("指定字段不存在"));
        },
        ::testing::ExitedWithCode(255), "错误信息：指定字段不存在");
}

} // namespace
