#pragma once

#include "runtime/Bytes.h"
#include "runtime/Result.h"

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

// How long a fetch may take and how much it may read before it counts as failed.
struct HttpLimits {
    long connectMillis = 3000;
    long totalMillis = 10000;
    std::size_t maxBody = 4 * 1024 * 1024;
};

// What a fetch gave: the body as far as it was received, and whether the fetch went through, else why not.
struct HttpReply {
    Bytes body;
    Result<void> outcome;
};

// One HTTP/1.0 GET of `address`, redirects followed and the status code not looked at. On a failure, a time-out
// (std::errc::timed_out), a body over the limit (std::errc::file_too_large) or `cancel` turning true
// (std::errc::operation_canceled), the body is whatever had arrived, usually nothing.
HttpReply HttpGet(std::string_view address, const HttpLimits& limits = {}, const std::atomic<bool>* cancel = nullptr);

// The address as it goes on the request line: cut at its first "#", and blanks and control characters escaped
// (%20, %0A), since they would otherwise break the request line. Everything else is sent as it is.
std::string RequestAddress(std::string_view address);
