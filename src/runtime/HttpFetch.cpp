#include "runtime/HttpFetch.h"

#include "runtime/Gbk.h"

std::string RequestAddress(std::string_view address) {
    const std::size_t hash = Gbk::Find(address, "#");
    if (hash != Gbk::npos) {
        address = address.substr(0, hash);
    }
    std::string escaped;
    escaped.reserve(address.size());
    constexpr const char* kHex = "0123456789ABCDEF";
    for (const char c : address) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F) {
            escaped += '%';
            escaped += kHex[byte >> 4];
            escaped += kHex[byte & 0x0F];
        } else {
            escaped += c;
        }
    }
    return escaped;
}
