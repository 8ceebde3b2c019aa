#include "tools/IpLookup.h"

#include "runtime/Gbk.h"
#include "tools/LookupConfig.h"
#include "tools/MarkedPage.h"

#include <cstdlib>

namespace IpLookup {

namespace {

struct Markers {
    std::string statusOpen = Gbk::FromUtf8("<span id=\"status\" class=\"info1\">\r");
    std::string statusClose = Gbk::FromUtf8("上面三项依次显示的是");
    std::string resultOpen = Gbk::FromUtf8("<strong class=\"red\">查询结果[1]: ");
    std::string arrowClose = " ==>>";
    std::string arrowOpen = " ==>> ";
    std::string locationClose = "</strong><br />\r";
    std::string ownOpen = Gbk::FromUtf8("您的IP:[<strong class=\"red\">");
    std::string ownClose = Gbk::FromUtf8("</strong>] 来自:<strong>");
    std::string ownLocationOpen = Gbk::FromUtf8("来自:<strong>");
    std::string ownLocationClose = "</strong>";
};

const Markers& TheMarkers() {
    static const Markers markers;
    return markers;
}

} // namespace

std::string BaseAddress() {
    const char* configured = std::getenv("TOLVAR_LOOKUP_URL");
    return configured != nullptr && *configured != '\0' ? configured : kDefaultLookupAddress;
}

std::string QueryAddress(std::string_view baseAddress, std::string_view typed) {
    std::string address(baseAddress);
    return address.append("?IP=").append(typed);
}

std::string PageTextOf(const Bytes& body) {
    const std::string_view utf8(reinterpret_cast<const char*>(body.data()), body.size());
    std::optional<std::string> gbk = Gbk::TryFromUtf8(utf8);
    if (!gbk) {
        return "";
    }
    gbk->resize(gbk->find('\0') == std::string::npos ? gbk->size() : gbk->find('\0'));
    return std::move(*gbk);
}

const std::string& EmptyStatus() {
    static const std::string status = "\n" + std::string(32, ' ') + "\r\n" + std::string(17, ' ');
    return status;
}

LookupAnswer ParseLookupAnswer(std::string_view pageText) {
    const Markers& m = TheMarkers();
    const MarkedPage page(pageText);
    LookupAnswer answer;
    if (page.Extract(m.statusOpen, m.statusClose) == EmptyStatus()) {
        answer.nothingFound = true;
        return answer;
    }
    answer.address = page.Extract(m.resultOpen, m.arrowClose);
    // The location follows the number; the number is found behind the first arrow, the one after the address.
    const std::string number = page.Extract(m.arrowOpen, m.arrowClose);
    answer.location = page.Extract(" " + number + m.arrowOpen, m.locationClose);
    return answer;
}

OwnAddress ParseOwnAddress(std::string_view pageText) {
    const Markers& m = TheMarkers();
    const MarkedPage page(pageText);
    return {page.Extract(m.ownOpen, m.ownClose), page.Extract(m.ownLocationOpen, m.ownLocationClose)};
}

} // namespace IpLookup
