#include "Lookup.h"

#include "AnswerPage.h"
#include "Locator.h"

namespace {

// Longer than any host name; a longer value is a malformed request, not a name.
constexpr std::size_t kMaxQuery = 255;

std::string_view Reason(unsigned status) {
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 431:
        return "Request Header Fields Too Large";
    case 503:
        return "Service Unavailable";
    case 505:
        return "HTTP Version Not Supported";
    default:
        return "Error";
    }
}

Reply Refusal(unsigned status, std::string text) {
    return Reply{status, std::move(text)};
}

} // namespace

Asked Ask(const RequestHead& head, std::uint32_t caller, const Locator& locator, bool resolveNames) {
    if (head.major != 1) {
        return {Refusal(505, "only HTTP/1 is spoken here\n"), {}};
    }
    if (head.minor >= 1 && !head.host) {
        return {Refusal(400, "an HTTP/1.1 request names its Host\n"), {}};
    }
    if (head.method != "GET" && head.method != "HEAD") {
        return {Refusal(405, "method not allowed\n"), {}};
    }
    // A lookup carries no body; one that announces one is refused before it is read.
    if (head.body) {
        return {Refusal(400, "a lookup has no body\n"), {}};
    }
    if (PathOf(head.target) != "/") {
        return {Refusal(404, "not found\n"), {}};
    }
    const std::optional<std::string> ip = QueryArgument(head.target, "IP");
    if (ip && ip->size() > kMaxQuery) {
        return {Refusal(400, "address too long\n"), {}};
    }
    // Without a query the page looks up the caller itself.
    if (!ip) {
        return {PageAbout(caller, caller, locator), {}};
    }
    if (const std::optional<std::uint32_t> address = ParseIpv4(*ip)) {
        return {PageAbout(caller, address, locator), {}};
    }
    if (!resolveNames || !IsHostName(*ip)) {
        return {PageAbout(caller, std::nullopt, locator), {}};
    }
    return {std::nullopt, *ip};
}

Reply PageAbout(std::uint32_t caller, std::optional<std::uint32_t> address, const Locator& locator) {
    std::optional<Located> result;
    if (address) {
        const std::string& country = locator.CountryOf(*address);
        if (!country.empty()) {
            result = Located{DottedDecimal(*address), *address, country};
        }
    }
    return Reply{200, AnswerPage(DottedDecimal(caller), locator.CountryOf(caller), result)};
}

void AppendAnswer(std::string& out, const Reply& reply, bool headOnly, bool keepOpen, std::string_view date) {
    out.append("HTTP/1.1 ").append(std::to_string(reply.status)).append(" ").append(Reason(reply.status));
    out.append("\r\nDate: ").append(date);
    out.append(reply.status == 200 ? "\r\nContent-Type: text/html; charset=utf-8"
                                   : "\r\nContent-Type: text/plain; charset=utf-8");
    out.append("\r\nCache-Control: no-store\r\nContent-Length: ").append(std::to_string(reply.body.size()));
    if (reply.status == 405) {
        out.append("\r\nAllow: GET, HEAD");
    }
    out.append(keepOpen ? "\r\nConnection: keep-alive\r\n\r\n" : "\r\nConnection: close\r\n\r\n");
    if (!headOnly) {
        out.append(reply.body);
    }
}
