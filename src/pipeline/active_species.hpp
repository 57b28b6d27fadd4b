// Selects the species that go into the box and checks that they agree on shared types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ff/molecule.hpp"
#include "lammps/system.hpp"

namespace cellkit {

struct ActiveSelection {
    ActiveSpeciesList active;
    std::vector<std::string> warnings;  // one per rigid-placeholder bond or angle type
};

// Resolves every species with a count above 0; throws Error on the first fault.
ActiveSelection resolve_active(const std::vector<Molecule>& molecules, const std::vector<std::uint64_t>& counts);

}  // namespace cellkit
