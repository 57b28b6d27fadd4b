// Loads the force field and every species file of a build.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ff/force_field.hpp"
#include "ff/molecule.hpp"
#include "ff/nonbonded_model.hpp"

namespace cellkit {

struct LoadedInputs {
    ForceField force_field;
    std::vector<Molecule> molecules;  // every species, count 0 included
    std::vector<std::string> skipped;  // names of the count-0 species
    std::vector<std::string> warnings;  // of the files, in the order loaded
};

// Throws Error with the first fault: list shapes, force field, species, names.
LoadedInputs load_molecules(const std::filesystem::path& force_field, const std::vector<std::filesystem::path>& species,
                            const std::vector<std::uint64_t>& counts);

// The non-bonded model of a force-field file in `box`, as RASPA3 and
// the force-field pair style read it; throws Error for a broken file or a box edge that is not a
// positive number.
NonBondedModel load_model(const std::filesystem::path& force_field, const Box& box);

}  // namespace cellkit
