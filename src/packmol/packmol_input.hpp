// The files Packmol reads: one PDB template per species and the script that places them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "ff/molecule.hpp"

namespace cellkit {

struct SpeciesTemplate {
    std::string file_name;  // relative to the working directory Packmol runs in
    std::uint64_t count = 0;
};

// "species_{position}_{name}.pdb"; "species_{position}.pdb" for a name that
// Packmol could not read back from its script (blanks, '#', non-ASCII, ...)
// or that would make the file name too long.
std::string template_file_name(std::size_t position, const std::string& name);

// COMPND line, one HETATM line per atom at its template position, END.
std::string species_template_pdb(const Molecule& molecule);

// The script, naming every file relative to Packmol's working directory so
// that blanks in the temporary location cannot split a path.
std::string packmol_script(double tolerance, double edge, const std::vector<SpeciesTemplate>& templates);

}  // namespace cellkit
