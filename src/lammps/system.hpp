// The system model: the species that go into the box, with their counts, and its totals.
#pragma once

#include <cstdint>
#include <vector>

#include "lammps/resolve.hpp"

namespace cellkit {

struct ActiveSpecies {
    ResolvedMolecule resolved;
    std::uint64_t count = 0;
};

// Species with a count above 0, in the order given; fixes the canonical atom order.
using ActiveSpeciesList = std::vector<ActiveSpecies>;

// Atoms, bonds, angles and dihedrals of the whole system (per molecule x count).
struct SystemTotals {
    std::uint64_t atoms = 0, bonds = 0, angles = 0, dihedrals = 0;
};

// Throws Error when a total does not fit in 64 bits.
SystemTotals system_totals(const ActiveSpeciesList& active);

}  // namespace cellkit
