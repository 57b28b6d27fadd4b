// The one check for text that goes into data.lmp or forcefield.lmp: type names, file stems, citations.
#pragma once

#include <string_view>

namespace cellkit {

// LAMMPS reads its input line by line before it strips comments, so text inside a comment can
// still change which lines it sees: a control character breaks or ends the line, a last
// non-blank '&' joins the next line to it, and """ opens a string that runs over the lines after
// it. Throws Error "{field} {quoted text} in {file} {fault}, which ...; remove ...".
void check_lammps_name(std::string_view text, std::string_view field, std::string_view file);

// A citation is written as comment lines of its own, one per line of the text, each followed by
// another comment line; only """ can reach past them.
void check_lammps_citation(std::string_view text, std::string_view field, std::string_view file);

}  // namespace cellkit
