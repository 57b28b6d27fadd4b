#include "ff/lammps_text.hpp"

#include <string>

#include "common/error.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

[[noreturn]] void refuse(std::string_view text, std::string_view field, std::string_view file, std::string_view fault) {
    std::string quoted;
    fmt::append_quoted(quoted, text);
    fail(field, " ", quoted, " in ", file, " ", fault);
}

void check_triple_quote(std::string_view text, std::string_view field, std::string_view file) {
    if (text.find("\"\"\"") != std::string_view::npos) {
        refuse(text, field, file,
               "contains \"\"\", which LAMMPS reads as the start of a multi-line string that swallows the lines "
               "after it; remove the triple quote");
    }
}

}  // namespace

void check_lammps_name(std::string_view text, std::string_view field, std::string_view file) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) {
            refuse(text, field, file,
                   "contains a control character, which breaks the line it is written on in data.lmp and "
                   "forcefield.lmp; remove the control character");
        }
    }
    check_triple_quote(text, field, file);
    // Control characters are gone, so the only blank LAMMPS can skip before a final '&' is a space.
    const std::size_t last = text.find_last_not_of(' ');
    if (last != std::string_view::npos && text[last] == '&') {
        refuse(text, field, file,
               "ends with '&', which LAMMPS reads as a line continuation that swallows the next line; remove "
               "the '&'");
    }
}

void check_lammps_citation(std::string_view text, std::string_view field, std::string_view file) {
    check_triple_quote(text, field, file);
}

}  // namespace cellkit
