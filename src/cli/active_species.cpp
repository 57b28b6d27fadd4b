#include "cli/active_species.hpp"

#include "common/number_format.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {
namespace {

std::uint64_t add_product(std::uint64_t total, std::uint64_t per_molecule, std::uint64_t count) {
    std::uint64_t product = 0;
    if (__builtin_mul_overflow(per_molecule, count, &product) || __builtin_add_overflow(total, product, &total)) {
        throw Error("the requested system is too large: its atom or bond count does not fit in 64 bits");
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

ActiveSelection resolve_active(const std::vector<Molecule>& molecules, const std::vector<std::uint64_t>& counts) {
    ActiveSelection selection;
    const std::size_t n = std::min(molecules.size(), counts.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (counts[i] == 0) continue;
        selection.active.push_back({resolve_molecule(molecules[i]), counts[i]});
    }
    if (selection.active.empty()) throw Error("all species have count 0; nothing to build");

    const BondTypeRegistry bonds = build_bond_type_registry(selection.active);
    const AngleTypeRegistry angles = build_angle_type_registry(selection.active);
    for (const auto& [key, bond] : bonds.entries()) {
        if (bond.placeholder) {
            selection.warnings.push_back(fmt::cat("bond ", bond.names[0], "-", bond.names[1],
                                                  " has no Bonds entry; defaulted to rigid placeholder (set SHAKE "
                                                  "or RIGID in your LAMMPS input)"));
        }
    }
    for (const auto& [key, angle] : angles.entries()) {
        if (angle.placeholder) {
            selection.warnings.push_back(fmt::cat("angle ", angle.names[0], "-", angle.names[1], "-", angle.names[2],
                                                  " has no Bends entry; defaulted to rigid placeholder (set SHAKE "
                                                  "or RIGID in your LAMMPS input)"));
        }
    }
    return selection;
}

}  // namespace cellkit
