#pragma once

#include <string_view>

// Why a server entry's text would not come back from ms.ini as it was typed.
enum class FieldProblem {
    None,
    // "|" or a line break: the server line would split into other fields or other lines.
    SeparatorOrLineBreak,
    // "#admin:", "#Start:" or "#LoadinPass:<": the server line would also change an option or the startup
    // password at the next start.
    Marker,
    // A zero byte: the stored text would end there.
    ZeroByte,
    // A last byte of 0x80 or more: the reader takes it for the first half of a two-byte character and the
    // separator after it for the second, so the line's later fields would shift into this one.
    PartCharacter,
};

// The first problem found in a GBK text meant for a server entry, or None when it is stored byte for byte.
FieldProblem ServerFieldProblem(std::string_view field);
