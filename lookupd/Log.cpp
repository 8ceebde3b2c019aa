#include "Log.h"

#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>

namespace Log {
namespace {

using Clock = std::chrono::steady_clock;

class Writer {
public:
    Writer() {
        // The writer takes no signals: the stop signals belong to the thread that waits for them.
        sigset_t all;
        sigset_t previous;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous);
        std::thread([this] { Run(); }).detach();
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    }

    void Queue(std::string line) {
        const std::lock_guard lock(mutex_);
        const Clock::time_point now = Clock::now();
        if (now - windowStart_ >= std::chrono::seconds(1)) {
            windowStart_ = now;
            linesInWindow_ = 0;
        }
        const std::size_t needed = dropped_ != 0 ? 2 : 1;
        if (linesInWindow_ >= kLinesPerSecond || lines_.size() + needed > kQueuedLines) {
            ++dropped_;
            return;
        }
        if (dropped_ != 0) {
            lines_.push_back("tolvar-lookupd: " + std::to_string(dropped_) + " log lines dropped\n");
            dropped_ = 0;
        }
        ++linesInWindow_;
        lines_.push_back(std::move(line));
        ready_.notify_one();
    }

    void Flush(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        drained_.wait_for(lock, timeout, [this] { return lines_.empty() && !writing_; });
    }

private:
    [[noreturn]] void Run() {
        std::unique_lock lock(mutex_);
        while (true) {
            ready_.wait(lock, [this] { return !lines_.empty(); });
            const std::string line = std::move(lines_.front());
            lines_.pop_front();
            writing_ = true;
            lock.unlock();
            WriteAll(line);
            lock.lock();
            writing_ = false;
            if (lines_.empty()) {
                drained_.notify_all();
            }
        }
    }

    static void WriteAll(std::string_view bytes) {
        while (!bytes.empty()) {
            const ssize_t written = write(STDERR_FILENO, bytes.data(), bytes.size());
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return;
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    std::mutex mutex_;
    std::condition_variable ready_;
    std::condition_variable drained_;
    std::deque<std::string> lines_;
    bool writing_ = false;
    Clock::time_point windowStart_;
    unsigned linesInWindow_ = 0;
    unsigned long dropped_ = 0;
};

Writer& Instance() {
    // Never destroyed: the writer thread may still be blocked in write() when the process ends.
    static Writer* const writer = new Writer;
    return *writer;
}

} // namespace

void Line(std::string_view text) {
    std::string line = "tolvar-lookupd: ";
    line.append(text.substr(0, kLineBytes));
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
        line.pop_back();
    }
    // Messages can quote what a client sent; no byte of it may pose as a line of its own or a terminal control.
    for (char& c : line) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7f) {
            c = '?';
        }
    }
    line += '\n';
    Instance().Queue(std::move(line));
}

void Format(const char* format, va_list arguments) {
    char text[kLineBytes + 1];
    std::vsnprintf(text, sizeof text, format, arguments);
    Line(text);
}

void Flush(std::chrono::milliseconds timeout) {
    Instance().Flush(timeout);
}

} // namespace Log
