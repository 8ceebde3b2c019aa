#pragma once

#include <string>

// One bookmark as the bookmark file holds it; both texts are GBK.
struct Bookmark {
    std::string name;
    std::string address;
    bool operator==(const Bookmark&) const = default;
};
