#include "runtime/Bytes.h"

#include <algorithm>

std::string TextFromBytes(const Bytes& bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
    return {bytes.begin(), end};
}

Bytes BytesFromText(std::string_view text) { return {text.begin(), text.end()}; }
