// Selects the species that go into the box and checks that they agree on shared types.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "ff/molecule.hpp"
#include "lammps/resolve.hpp"

namespace cellkit {

struct ActiveSpecies {
    ResolvedMolecule resolved;
    std::uint64_t count = 0;
};

using ActiveSpeciesList = std::vector<ActiveSpecies>;

struct ActiveSelection {
    ActiveSpeciesList active;
    std::vector<std::string> warnings;  // one per rigid-placeholder bond or angle type
};

// Atoms, bonds, angles and dihedrals of the whole system (per molecule x count).
struct SystemTotals {
    std::uint64_t atoms = 0, bonds = 0, angles = 0, dihedrals = 0;
};

// Throws Error when a total does not fit in 64 bits.
SystemTotals system_totals(const ActiveSpeciesList& active);

// Resolves every species with a count above 0; throws Error on the first fault.
ActiveSelection resolve_active(const std::vector<Molecule>& molecules, const std::vector<std::uint64_t>& counts);

}  // namespace cellkit
