#include "AnswerPage.h"

#include <arpa/inet.h>
#include <cctype>

std::string AnswerPage(std::string_view callerAddress, std::string_view callerLocation,
                       const std::optional<Located>& result) {
    std::string page;
    page.reserve(1024);
    page += "<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"><title>IP地址查询</title></head>\r\n<body>\r\n";
    page += "<p>您的IP:[<strong class=\"red\">";
    page += callerAddress;
    page += "</strong>] 来自:<strong>";
    page += callerLocation;
    page += "</strong></p>\r\n";
    page += "<form method=\"get\" action=\"/\"><input name=\"IP\" size=\"30\"> <input type=\"submit\" "
            "value=\"查询\"></form>\r\n";
    page += "<p><span id=\"status\" class=\"info1\">\r";
    if (result) {
        page += "\n找到 1 条记录\r\n";
    } else {
        // The exact blanks that tell a reader that nothing was found.
        page += "\n" + std::string(32, ' ') + "\r\n" + std::string(17, ' ');
    }
    page += "上面三项依次显示的是：查询的地址、它的数字形式和它所在的国家或地区</span></p>\r\n";
    if (result) {
        page += "<p><strong class=\"red\">查询结果[1]: ";
        page += result->address;
        page += " ==>> ";
        page += std::to_string(result->number);
        page += " ==>> ";
        page += result->location;
        page += "</strong><br />\r\n</p>\r\n";
    }
    page += "</body></html>\r\n";
    return page;
}

std::optional<std::uint32_t> ParseIpv4(std::string_view text) {
    if (text.size() >= INET_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string terminated(text);
    in_addr address{};
    if (inet_pton(AF_INET, terminated.c_str(), &address) != 1) {
        return std::nullopt;
    }
    return ntohl(address.s_addr);
}

std::string DottedDecimal(std::uint32_t address) {
    in_addr network{htonl(address)};
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &network, text, sizeof text);
    return text;
}

bool IsHostName(std::string_view text) {
    if (text.empty() || text.size() > 253) {
        return false;
    }
    bool letter = false;
    std::size_t label = 0;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '.') {
            if (label == 0) {
                return false;
            }
            label = 0;
            continue;
        }
        if (!std::isalnum(byte) && c != '-') {
            return false;
        }
        letter = letter || std::isalpha(byte);
        if (++label > 63) {
            return false;
        }
    }
    return letter;
}
