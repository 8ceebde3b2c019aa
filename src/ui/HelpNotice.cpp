#include "ui/HelpNotice.h"

#include "runtime/MsgBox.h"

QString HelpNoticeText() {
    return QStringLiteral("注意：\n"
                          "1.本软件仅供研究之用，请勿用于非法用途！\n"
                          "2.不明白的地方自行做琢磨，软件绝对无毒！如有也是误报\n"
                          "3.如有任何问题可以联系作者：") +
           QString::fromUtf16(kProjectContact);
}

void ShowHelpNotice() {
    MsgBox::Show(HelpNoticeText());
}
