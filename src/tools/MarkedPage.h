#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// A fetched page, searched for marker pairs. Each search is one fast byte search; whether a hit starts a GBK
// character is settled by looking back from it, not by walking from the start of the page. It keeps a view of
// the text, which must outlive it.
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
    bool StartsCharacter(std::size_t pos, std::size_t boundary) const;

    std::string_view text_;
};

// One extraction over `source`, for callers that need a single value.
std::string ExtractBetweenMarkers(std::string_view source, std::string_view open, std::string_view close);
