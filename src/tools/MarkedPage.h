#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// A fetched page, searched for many marker pairs in a row. It remembers which bytes start a GBK character, so
// each search is one fast byte search plus a table look-up instead of a walk from the start of the page.
// It keeps a view of the text, which must outlive it; not safe for use from two threads at once.
class MarkedPage {
public:
    explicit MarkedPage(std::string_view text);

    // The text between `open` and `close`:
    // - empty when `close` occurs nowhere in the page;
    // - the segment runs from after the first `open` to the next `open` or the end of the page, and an
    //   absent `open` or an empty segment gives empty text;
    // - the segment is cut at its first `close`, if it holds one.
    std::string Extract(std::string_view open, std::string_view close) const;

    // Position of the first `pattern` that starts on a character boundary in [from, to) and ends by `to`.
    std::size_t Find(std::string_view pattern, std::size_t from, std::size_t to) const;

private:
    bool StartsCharacter(std::size_t pos) const;

    std::string_view text_;
    // Character starts of text_[0, walked_), filled as far as the searches have needed.
    mutable std::vector<bool> starts_;
    mutable std::size_t walked_ = 0;
};

// One extraction over `source`, for callers that need a single value.
std::string ExtractBetweenMarkers(std::string_view source, std::string_view open, std::string_view close);
