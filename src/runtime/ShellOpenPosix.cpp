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

Result<void> ShellOpen(const std::string& address) {
    const std::string opener = FindOnPath(kOpener);
    if (opener.empty()) {
        return Fail(std::errc::no_such_file_or_directory);
    }
    return StartDetached(opener, ShellOpenArguments(address), {});
}
