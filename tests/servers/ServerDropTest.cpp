#include "servers/ServerDrop.h"
#include "runtime/Gbk.h"
#include "runtime/MsgBox.h"
#include "support/TempDir.h"

#include <QMimeData>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

// Dropped files reach the import by the path the core opens, and the message names each by its own name.
TEST(ServerDropTest, ChineseNamedFilesAreReadAndNamedAndEachRefusalGivesItsReason) {
    TempDir dir;
    const auto drop = [&](const char* name, std::string_view text) {
        WriteTestFile(dir.File(name), BytesFromText(text));
        return QUrl::fromLocalFile(QString::fromStdString(dir.File(name)));
    };
    const QList<QUrl> urls{
        drop("游戏一区.rdp", "full address:s:127.0.0.2:3390\r\nusername:s:root\r\n"),
        drop("说明.txt", "full address:s:127.0.0.3\r\n"),
        drop("令牌.remmina", "[remmina]\nprotocol=RDP\nserver=rdp.example.test:3389?token=visible=part\n"),
        drop("ansi.rdp", "full address:s:127.0.0.27:3389\r\nusername:s:ab\x80\r\n"),
        QUrl(QStringLiteral("https://127.0.0.1/remote.rdp")),
    };
    QMimeData data;
    data.setUrls(urls);
    EXPECT_TRUE(CarriesLocalFiles(&data));

    ServerList servers;
    MsgBox::ClearAnswered();
    MsgBox::SetNextAnswer(MsgBox::Result::Ok);
    const std::vector<ServerList::Id> added = ImportDroppedFiles(urls, servers, SIZE_MAX);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(*servers.EntryAt(1),
              (ServerEntry{"127.0.0.2", "3390", "root", "", Gbk::FromUtf8("游戏一区"), ServerStatus::Unknown}));
    ASSERT_EQ(MsgBox::Answered().size(), 1u);
    EXPECT_EQ(MsgBox::Answered()[0].text,
              QStringLiteral("已添加 1 台服务器。\n跳过 3 个文件：\n说明.txt：不是 .rdp 或 .remmina 文件\n"
                             "令牌.remmina：端口“3389?token=visible=part”不是 1 到 65535 之间的数字\n"
                             "ansi.rdp：“登陆账号”以不完整的 GBK 字符结尾\n\n"
                             "密码没有导入，请选中服务器后用“修改”填写。"));

    QMimeData remote;
    remote.setUrls({QUrl(QStringLiteral("https://127.0.0.1/remote.rdp"))});
    EXPECT_FALSE(CarriesLocalFiles(&remote));
}

} // namespace
