#pragma once

#include <QString>
#include <optional>
#include <string>
#include <string_view>

// The windows' edge between GBK program text and Qt's strings.
namespace Gbk {

QString ToQString(std::string_view gbk);

// Strict: nullopt when the text holds a character that GBK cannot hold, so a caller that stores the text
// can refuse it instead of losing the character.
std::optional<std::string> FromQString(const QString& text);

} // namespace Gbk
