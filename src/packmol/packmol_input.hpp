// The files Packmol reads: one PDB template per species and the script that places them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/seed.hpp"
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
    PackRegion region;         // every atom of its molecules inside
    std::string restart_file;  // where its molecules start, if not at Packmol's own random guesses
};

// "species_{position}_{name}.pdb"; "species_{position}.pdb" for a name that
// Packmol could not read back from its script (blanks, '#', non-ASCII, ...)
// or that would make the file name too long.
std::string template_file_name(std::size_t position, const std::string& name);

// COMPND line, one HETATM line per atom at its template position, END.
std::string species_template_pdb(const Molecule& molecule);

// The obstacles' file of a Packmol run: atoms it must keep the tolerance from, fixed where they are.
inline constexpr const char* obstacles_file_name = "obstacles.pdb";

// The script of a run in the periodic box from the origin to `box` Å (Packmol's pbc: the tolerance
// holds across its faces, by the nearest image), placing each template's molecules inside its region,
// with a "seed" line when one is given and the fixed atoms of obstacles_file_name when `obstacles` is set.
// Every file is named relative to Packmol's working directory, so blanks in the temporary location
// cannot split a path.
std::string packmol_script(double tolerance, const Vec3& box, const std::vector<SpeciesTemplate>& templates,
                           std::optional<std::uint64_t> seed = {}, bool obstacles = false);

// The whole periodic box from the origin to `box` Å: where a single run packs a bulk liquid.
PackRegion whole_box_region(const Vec3& box);

// The atoms as a PDB file of one structure (HETATM records and END), for obstacles.
std::string obstacles_pdb(const std::vector<Vec3>& atoms);

}  // namespace cellkit
