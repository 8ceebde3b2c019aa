#pragma once

#include <QString>

// Where users of this program send questions and feedback.
inline constexpr const char16_t* kProjectContact = u"Tolvar 项目组（https://tolvar.example.org）";

QString HelpNoticeText();

// The server page's help notice: an OK box without icon under the default caption.
void ShowHelpNotice();
