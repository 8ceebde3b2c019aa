#pragma once

#include <chrono>
#include <cstdarg>
#include <cstddef>
#include <string_view>

// Lines for standard error that never hold up the thread that logs them. A line is queued and written by a thread
// of its own; when that writer is stuck (an unread pipe) or lines come faster than kLinesPerSecond, further lines
// are dropped and counted, and the count is reported once lines flow again.
namespace Log {

constexpr unsigned kLinesPerSecond = 20;
constexpr unsigned kQueuedLines = 64;
constexpr std::size_t kLineBytes = 300;

// Queues "tolvar-lookupd: <text>"; a trailing line break is added when missing. Safe from any thread.
void Line(std::string_view text);
void Format(const char* format, va_list arguments);

// Waits up to `timeout` for the queued lines to be written, so a clean stop does not lose the last ones.
void Flush(std::chrono::milliseconds timeout);

} // namespace Log
