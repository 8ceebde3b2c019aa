#include "StandInClient.h"

#include "runtime/Bytes.h"
#include "runtime/Files.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iconv.h>
#include <sys/stat.h>
#include <thread>

namespace {

std::string Read(const std::string& path) {
    const Bytes data = ReadWholeFile(path);
    return {data.begin(), data.end()};
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

} // namespace

StandInClient::StandInClient(const std::vector<std::string>& names) {
    std::filesystem::create_directory(dir_.File("bin"));
    std::filesystem::create_directory(dir_.File("runs"));
    // Each run claims the next number with mkdir, which only one run can win, and marks itself done last.
    const std::string script = "#!/bin/sh\n"
                               "out='" +
                               dir_.File("runs") +
                               "'\n"
                               "i=1\n"
                               "while ! mkdir \"$out/$i\" 2>/dev/null; do i=$((i+1)); done\n"
                               "r=\"$out/$i\"\n"
                               "basename \"$0\" > \"$r/name\"\n"
                               "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$r/args\"\n"
                               "cat \"$1\" > \"$r/file\" 2>/dev/null\n"
                               "cat > \"$r/stdin\"\n"
                               "env > \"$r/environ\"\n"
                               ": > \"$r/done\"\n"
                               "sleep \"${STANDIN_SLEEP:-0}\"\n"
                               "exit \"${STANDIN_EXIT:-0}\"\n";
    for (const std::string& name : names) {
        const std::string path = dir_.File("bin/" + name);
        WriteTestFile(path, BytesFromText(script));
        ::chmod(path.c_str(), 0755);
    }
    const char* path = std::getenv("PATH");
    oldPath_ = path != nullptr ? path : "";
    // Only the system directories follow, so a real client installed elsewhere is never the one found.
    ::setenv("PATH", (dir_.File("bin") + ":/usr/bin:/bin").c_str(), 1);
}

StandInClient::~StandInClient() {
    ::setenv("PATH", oldPath_.c_str(), 1);
}

std::optional<StandInClient::Run> StandInClient::WaitForRun() {
    const std::string run = dir_.File("runs/" + std::to_string(taken_ + 1));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(run + "/done")) {
        if (std::chrono::steady_clock::now() > deadline) {
            return std::nullopt;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ++taken_;
    Run result;
    const auto names = Lines(Read(run + "/name"));
    result.name = names.empty() ? "" : names.front();
    result.arguments = Lines(Read(run + "/args"));
    result.input = Read(run + "/stdin");
    result.environment = Read(run + "/environ");
    result.file = Read(run + "/file");
    return result;
}

std::string StandInClient::Run::Utf8File() const {
    if (file.size() < 2 || file.compare(0, 2, "\xFF\xFE") != 0) {
        return "";
    }
    iconv_t cd = ::iconv_open("UTF-8", "UTF-16LE");
    std::string in = file.substr(2);
    std::string out(in.size() * 2, '\0');
    char* from = in.data();
    std::size_t fromLeft = in.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    const bool whole = ::iconv(cd, &from, &fromLeft, &to, &toLeft) != static_cast<std::size_t>(-1);
    ::iconv_close(cd);
    out.resize(out.size() - toLeft);
    return whole ? out : "";
}

int StandInClient::Started() const {
    int count = 0;
    while (std::filesystem::exists(dir_.File("runs/" + std::to_string(count + 1)))) {
        ++count;
    }
    return count;
}

ScopedEnv::ScopedEnv(const char* name, const std::string& value)
    : name_(name) {
    if (const char* old = std::getenv(name); old != nullptr) {
        old_ = old;
    }
    ::setenv(name, value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
    if (old_) {
        ::setenv(name_.c_str(), old_->c_str(), 1);
    } else {
        ::unsetenv(name_.c_str());
    }
}
