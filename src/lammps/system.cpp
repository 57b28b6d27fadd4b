#include "lammps/system.hpp"

#include "common/error.hpp"

namespace cellkit {
namespace {

std::uint64_t add_product(std::uint64_t total, std::uint64_t per_molecule, std::uint64_t count) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(per_molecule, count, &product) || __builtin_add_overflow(total, product, &total)) {
        fail("the requested system is too large: its atom or bond count does not fit in 64 bits");
    }
    return total;
}

}  // namespace

SystemTotals system_totals(const ActiveSpeciesList& active) {
    SystemTotals t;
    for (const ActiveSpecies& s : active) {
        t.atoms = add_product(t.atoms, s.resolved.molecule->pseudo_atoms.size(), s.count);
        t.bonds = add_product(t.bonds, s.resolved.bonds.size(), s.count);
        t.angles = add_product(t.angles, s.resolved.angles.size(), s.count);
        t.dihedrals = add_product(t.dihedrals, s.resolved.dihedrals.size(), s.count);
    }
    return t;
}

}  // namespace cellkit
