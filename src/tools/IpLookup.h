#pragma once

#include "runtime/Bytes.h"

#include <string>
#include <string_view>

// The IP-lookup page: its address, the values cut out of its answers, and the texts the page shows.
namespace IpLookup {

// Where the lookup page lives: TOLVAR_LOOKUP_URL from the environment, else the address the build was
// configured with.
std::string BaseAddress();

// The address a lookup fetches: the base address, "?IP=" and the typed text as it is.
std::string QueryAddress(std::string_view baseAddress, std::string_view typed);

// The page text of a fetched body: strict UTF-8 to GBK, up to the first zero byte; empty when the body is not
// valid UTF-8 or holds a character that GBK lacks.
std::string PageTextOf(const Bytes& body);

struct LookupAnswer {
    // The page reported that it found nothing for the address.
    bool nothingFound = false;
    std::string address;
    std::string location;
};

// What a lookup shows, taken from the result line of the page; missing markers give empty values.
LookupAnswer ParseLookupAnswer(std::string_view pageText);

struct OwnAddress {
    std::string address;
    std::string location;
};

// The machine's public address and its location as the base page reports them.
OwnAddress ParseOwnAddress(std::string_view pageText);

// The status the page shows when it found nothing: LF, 32 blanks, CR, LF, 17 blanks.
const std::string& EmptyStatus();

} // namespace IpLookup
