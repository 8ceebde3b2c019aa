#pragma once

#include <thread>

// Reading the system's font configuration takes milliseconds that the first window's layout would wait for. This
// reads it on a thread of its own, started first thing, while the windows layer connects to the display, and
// Finish() waits for it before the first font is looked up. Where fonts need no such reading (Windows) no thread
// is started.
class FontWarmUp {
public:
    FontWarmUp();
    ~FontWarmUp() { Finish(); }
    FontWarmUp(const FontWarmUp&) = delete;
    FontWarmUp& operator=(const FontWarmUp&) = delete;

    // Waits until the configuration has been read; at once when it has.
    void Finish() {
        if (reader_.joinable()) {
            reader_.join();
        }
    }

private:
    std::thread reader_;
};
