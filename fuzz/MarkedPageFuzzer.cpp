// Lookup pages of any content: the look-back search finds exactly what a walk from the start of the page finds,
// and extraction and parsing never read outside the page.
#include "runtime/Gbk.h"
#include "tools/IpLookup.h"
#include "tools/MarkedPage.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace {

// Extraction by its plain rules, over Gbk::Find on the segment, to compare against.
std::string Reference(std::string_view text, std::string_view open, std::string_view close) {
    if (Gbk::Find(text, close) == Gbk::npos) {
        return "";
    }
    const std::size_t opening = Gbk::Find(text, open);
    if (opening == Gbk::npos) {
        return "";
    }
    const std::size_t from = opening + open.size();
    const std::size_t next = Gbk::Find(text, open, from);
    const std::string_view segment = text.substr(from, next == Gbk::npos ? Gbk::npos : next - from);
    return segment.empty() ? "" : std::string(segment.substr(0, Gbk::Find(segment, close)));
}

} // namespace

// Input: two marker lengths in the first two bytes, the markers, then the page.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t openLength = std::min<std::size_t>(data[0] % 8 + 1, size - 2);
    const std::size_t closeLength = std::min<std::size_t>(data[1] % 8 + 1, size - 2 - openLength);
    const std::string_view open = input.substr(2, openLength);
    const std::string_view close = input.substr(2 + openLength, closeLength);
    const std::string_view page = input.substr(2 + openLength + closeLength);

    const MarkedPage marked(page);
    if (!close.empty() && marked.Find(close, 0, page.size()) != Gbk::Find(page, close)) {
        __builtin_trap();
    }
    // Markers that end inside a character make the segment start on a second byte; the rules assume whole ones.
    std::size_t end = 0;
    while (end < open.size()) {
        end += static_cast<unsigned char>(open[end]) >= 0x80 ? 2 : 1;
    }
    const bool wholeOpen = end == open.size();
    if (!close.empty() && wholeOpen && marked.Extract(open, close) != Reference(page, open, close)) {
        __builtin_trap();
    }
    IpLookup::ParseLookupAnswer(page);
    IpLookup::ParseOwnAddress(page);
    return 0;
}
