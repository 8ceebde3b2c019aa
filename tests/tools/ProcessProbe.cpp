#include "ProcessProbe.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The state letter and parent of a process from /proc/<pid>/stat, or no state when it is gone.
bool StatOf(pid_t pid, char& state, pid_t& parent) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(in, line)) {
        return false;
    }
    // The command name may hold blanks and parentheses; the fields after its last ")" are plain.
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    fields >> state >> parent;
    return true;
}

} // namespace

std::vector<pid_t> ChildrenOfThisProcess() {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) {
            continue;
        }
        char state = 0;
        pid_t parent = 0;
        if (StatOf(std::stoi(name), state, parent) && parent == ::getpid()) {
            children.push_back(std::stoi(name));
        }
    }
    return children;
}

bool ProcessGone(pid_t pid) {
    char state = 0;
    pid_t parent = 0;
    return !StatOf(pid, state, parent) || state == 'Z' || state == 'X';
}

pid_t PidFromFile(const std::string& path) {
    std::ifstream in(path);
    pid_t pid = 0;
    in >> pid;
    return in ? pid : 0;
}

bool WaitUntil(const std::function<bool()>& done, int milliseconds) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > milliseconds) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QThread::msleep(2);
    }
    return true;
}

void Spin(int milliseconds) {
    WaitUntil([] { return false; }, milliseconds);
}

StandInPing::StandInPing() {
    std::string pattern = "/tmp/tolvar-ping-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        ADD_FAILURE() << "mkdtemp failed";
    }
    dir_ = pattern;
    path_ = qgetenv("PATH");
    qputenv("PATH", QByteArray::fromStdString(dir_) + ':' + path_);
}

StandInPing::~StandInPing() {
    qputenv("PATH", path_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

void StandInPing::Script(const std::string& body) {
    const std::string script = File("ping");
    // Written beside and renamed, so the program is never found half written.
    std::ofstream(script + ".new") << "#!/bin/sh\nDIR='" << dir_ << "'\n" << body << '\n';
    ::chmod((script + ".new").c_str(), 0755);
    std::filesystem::rename(script + ".new", script);
}

std::string StandInPing::File(const std::string& name) const {
    return dir_ + "/" + name;
}

std::string StandInPing::Read(const std::string& name) const {
    std::ifstream in(File(name));
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
