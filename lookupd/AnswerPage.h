#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// The place of one looked-up address.
struct Located {
    std::string address;
    std::uint32_t number = 0;
    std::string location;
};

// The UTF-8 HTML page the service answers with: the caller's own address and location, and the result line of
// the looked-up address, or the status of a page that found nothing.
std::string AnswerPage(std::string_view callerAddress, std::string_view callerLocation,
                       const std::optional<Located>& result);

// An IPv4 address in dotted decimal, in host order; nullopt for anything else.
std::optional<std::uint32_t> ParseIpv4(std::string_view text);
std::string DottedDecimal(std::uint32_t address);

// Whether `text` can be a host name worth asking the resolver about: letters, digits and hyphens in dotted
// labels, and at least one letter, so a mistyped address never goes out as a name.
bool IsHostName(std::string_view text);
