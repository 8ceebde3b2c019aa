#include "runtime/GbkQt.h"

#include "runtime/Gbk.h"

namespace Gbk {

QString ToQString(std::string_view gbk) {
    return QString::fromStdString(ToUtf8(gbk));
}

std::optional<std::string> FromQString(const QString& text) {
    return TryFromUtf8(text.toStdString());
}

} // namespace Gbk
