// The shapes the packing routes place: a flexible molecule file without one gets a built conformer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "pipeline/species_loading.hpp"

namespace cellkit {

// Gives every flexible species with a count above 0 whose template puts atoms on one point (as
// RASPA3's flexible molecule files do) one conformer built from its bonds, bends and torsions, with
// a warning that says so. Returns, per species, whether its template was built. Throws Error naming
// the file when no geometry can be built.
std::vector<bool> build_missing_templates(LoadedInputs& loaded, const std::vector<std::filesystem::path>& species,
                                          const std::vector<std::uint64_t>& counts);

}  // namespace cellkit
