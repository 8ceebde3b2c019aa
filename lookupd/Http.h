#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// How far the bytes received so far make a request head.
enum class HeadState {
    Incomplete, // nothing wrong yet, the blank line that ends the head has not come
    Whole,      // a request line of HTTP shape and well-formed header lines up to the blank line
    Malformed,  // the request line is not "METHOD SP TARGET SP HTTP/d.d", its target holds "%00", or a header
                // line is no "name: value"
    TooLarge,   // no end of head within the limit
};

// What the service needs of one request head. The views point into the bytes it was read from.
struct RequestHead {
    std::string_view method;
    std::string_view target;
    unsigned major = 1;
    unsigned minor = 1;
    bool host = false;
    // Content-Length or Transfer-Encoding: the request announces a body.
    bool body = false;
    // The Connection header's "close" and "keep-alive" tokens.
    bool close = false;
    bool keepAlive = false;
    // Bytes from the start of the received data to the end of the blank line.
    std::size_t size = 0;

    // Whether the client expects the connection to stay open after the answer.
    bool Persistent() const { return minor >= 1 ? !close : keepAlive && !close; }
};

// Reads the first request head of `received`; `head` is filled when the result is Whole.
HeadState ReadHead(std::string_view received, std::size_t limit, RequestHead& head);

// The path of a request target, before any query.
std::string_view PathOf(std::string_view target);

// The decoded value of the first query argument called `name` ("+" a space, "%XX" the byte); nullopt without one.
std::optional<std::string> QueryArgument(std::string_view target, std::string_view name);
