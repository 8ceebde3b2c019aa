#pragma once

#include "Http.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class Locator;

// One answer before it is put on the wire.
struct Reply {
    unsigned status = 200;
    std::string body;
};

// What a whole request asks for: an answer at once, or the page about a host name once the name is resolved.
struct Asked {
    std::optional<Reply> reply;
    std::string name;
};

// The answer to `head` from `caller` (IPv4, host order); a name is only handed back when `resolveNames`.
Asked Ask(const RequestHead& head, std::uint32_t caller, const Locator& locator, bool resolveNames);

// The lookup page for `caller` about `address`; without an address, or one without a country, nothing found.
Reply PageAbout(std::uint32_t caller, std::optional<std::uint32_t> address, const Locator& locator);

// Appends `reply` as an HTTP/1.1 answer to `out`: without the body when `headOnly`, saying whether the connection
// stays open; `date` is the Date header's value.
void AppendAnswer(std::string& out, const Reply& reply, bool headOnly, bool keepOpen, std::string_view date);
