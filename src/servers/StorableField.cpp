#include "servers/StorableField.h"

#include "runtime/Gbk.h"

FieldProblem ServerFieldProblem(std::string_view field) {
    if (field.find('\0') != std::string_view::npos) {
        return FieldProblem::ZeroByte;
    }
    // Stepping as the reader steps, a lead byte that is the text's last is a character cut in half.
    std::size_t last = 0;
    for (std::size_t at = 0; at < field.size(); at += Gbk::CharLength(field, at)) {
        last = at;
    }
    if (last + 1 == field.size() && static_cast<unsigned char>(field[last]) >= 0x80) {
        return FieldProblem::PartCharacter;
    }
    // A GBK trail byte may be "|" (0x7C), so the separator is searched for as the parser finds it.
    for (const std::string_view separator : {"|", "\r", "\n"}) {
        if (Gbk::Contains(field, separator)) {
            return FieldProblem::SeparatorOrLineBreak;
        }
    }
    for (const std::string_view marker : {"#admin:", "#Start:", "#LoadinPass:<"}) {
        if (Gbk::Contains(field, marker)) {
            return FieldProblem::Marker;
        }
    }
    return FieldProblem::None;
}
