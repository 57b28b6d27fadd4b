// Reading the packed box back from Packmol's PDB output.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/vec3.hpp"

namespace cellkit {

// The positions of the ATOM and HETATM records, in file order. Throws Error
// "reading packmol output {path}: {fault}" or one of parse_packed_pdb_text's.
std::vector<Vec3> parse_packed_pdb(const std::filesystem::path& path);

// Columns 31-38, 39-46 and 47-54 of each "ATOM  " or "HETATM" line; other
// lines are skipped. Throws Error "malformed PDB line in {shown_path}: {line}"
// for a record shorter than 54 bytes (or cut inside a character), and
// "bad x coordinate in {shown_path}: {line}" (y, z alike) for a field that is
// not a finite decimal number.
std::vector<Vec3> parse_packed_pdb_text(std::string_view text, const std::string& shown_path);

}  // namespace cellkit
