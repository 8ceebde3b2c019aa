#pragma once

#include "runtime/Bytes.h"

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

// One HTTP/1.0 GET of `address`, redirects followed and the status code not looked at. The result is the body as
// far as it was received: on a failure, a time-out, a body over the limit or `cancel` turning true, that is
// whatever had arrived, usually nothing. No error is reported.
Bytes HttpGet(std::string_view address, const HttpLimits& limits = {}, const std::atomic<bool>* cancel = nullptr);

// The address as it goes on the request line: cut at its first "#", and blanks and control characters escaped
// (%20, %0A), since they would otherwise break the request line. Everything else is sent as it is.
std::string RequestAddress(std::string_view address);
