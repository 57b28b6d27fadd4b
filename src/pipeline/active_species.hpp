// Selects the species that go into the box and checks that they agree on shared types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ff/force_field.hpp"
#include "ff/molecule.hpp"
#include "lammps/system.hpp"
#include "pipeline/species_loading.hpp"

namespace cellkit {

struct ActiveSelection {
    ActiveSpeciesList active;
    // One per rigid-placeholder bond or angle type, then one per species whose bonds were inferred.
    std::vector<std::string> warnings;
};

// Resolves every species with a count above 0; throws Error on the first fault.
ActiveSelection resolve_active(const std::vector<Molecule>& molecules, const std::vector<std::uint64_t>& counts);

// One per pseudo-atom type of the box that has neither a SelfInteractions entry nor a charge.
std::vector<std::string> inert_atom_warnings(const ActiveSpeciesList& active, const ForceField& force_field);

// The warnings of the files, then those of the selection, moved out of both, then the inert atoms'.
std::vector<std::string> all_warnings(LoadedInputs& loaded, ActiveSelection& selection);

}  // namespace cellkit
