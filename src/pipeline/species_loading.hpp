// Loads the force field and every species file of a build.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ff/force_field.hpp"
#include "ff/molecule.hpp"

namespace cellkit {

struct LoadedInputs {
    ForceField force_field;
    std::vector<Molecule> molecules;  // every species, count 0 included
    std::vector<std::string> skipped;  // names of the count-0 species
};

// Throws Error with the first fault: list shapes, force field, species, names.
LoadedInputs load_molecules(const std::filesystem::path& force_field, const std::vector<std::filesystem::path>& species,
                            const std::vector<std::uint64_t>& counts);

}  // namespace cellkit
