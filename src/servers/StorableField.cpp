#include "servers/StorableField.h"

#include "runtime/Gbk.h"

FieldProblem ServerFieldProblem(std::string_view field) {
    if (field.find('\0') != std::string_view::npos) {
        return FieldProblem::ZeroByte;
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
