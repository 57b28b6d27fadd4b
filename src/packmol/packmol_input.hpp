// The files Packmol reads: one PDB template per species and the script that places them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/vec3.hpp"
#include "ff/molecule.hpp"

namespace cellkit {

// The box, in Å, that every atom of the placed molecules must lie in.
struct PackRegion {
    Vec3 lo{}, hi{};
};

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

// The same placing the molecules inside `region`, with a "seed" line when one is given.
std::string packmol_script(double tolerance, const PackRegion& region, const std::vector<SpeciesTemplate>& templates,
                           std::optional<std::uint64_t> seed = {});

// Inside the cube of `edge` Å, box_margin() away from its faces: where a single run packs.
PackRegion whole_box_region(double tolerance, double edge);

}  // namespace cellkit
