#include "runtime/Bytes.h"

#include <algorithm>

std::string TextFromBytes(const Bytes& bytes) {
    return std::string(TextViewOf(bytes));
}

std::string_view TextViewOf(const Bytes& bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), static_cast<unsigned char>(0));
    return {reinterpret_cast<const char*>(bytes.data()), static_cast<std::size_t>(end - bytes.begin())};
}

Bytes BytesFromText(std::string_view text) {
    return {text.begin(), text.end()};
}
