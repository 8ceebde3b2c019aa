#include "runtime/ShellOpen.h"

#include "runtime/DetachedProcess.h"
#include "runtime/Gbk.h"

namespace {

constexpr const char* kOpener = "xdg-open";

} // namespace

std::vector<std::string> ShellOpenArguments(const std::string& address) {
    std::string operand = Gbk::ToUtf8(address);
    if (!operand.empty() && operand.front() == '-') {
        operand.insert(0, "./");
    }
    return {operand};
}

bool ShellOpen(const std::string& address) {
    const std::string opener = FindOnPath(kOpener);
    return !opener.empty() && StartDetached(opener, ShellOpenArguments(address), {});
}
