#include "settings/Rc4Crypt.h"

#include <array>
#include <numeric>
#include <utility>

Bytes Rc4Crypt(const Bytes& data, std::string_view key) {
    if (data.empty()) {
        return {};
    }
    std::array<unsigned char, 256> s{};
    std::iota(s.begin(), s.end(), 0);
    if (!key.empty()) {
        unsigned j = 0;
        for (unsigned i = 0; i < 256; ++i) {
            j = (j + s[i] + static_cast<unsigned char>(key[i % key.size()])) & 255;
            std::swap(s[i], s[j]);
        }
    }
    Bytes out(data.size());
    unsigned i = 0;
    unsigned j = 0;
    for (std::size_t n = 0; n < data.size(); ++n) {
        i = (i + 1) & 255;
        j = (j + s[i]) & 255;
        std::swap(s[i], s[j]);
        out[n] = data[n] ^ s[(s[i] + s[j]) & 255];
    }
    return out;
}
