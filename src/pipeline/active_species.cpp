#include "pipeline/active_species.hpp"

#include "common/number_format.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

ActiveSelection resolve_active(const std::vector<Molecule>& molecules, const std::vector<std::uint64_t>& counts) {
    ActiveSelection selection;
    const std::size_t n = std::min(molecules.size(), counts.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (counts[i] == 0) continue;
        selection.active.push_back({resolve_molecule(molecules[i]), counts[i]});
    }
    if (selection.active.empty()) fail("all species have count 0; nothing to build");

    const BondTypeRegistry bonds = build_bond_type_registry(selection.active);
    const AngleTypeRegistry angles = build_angle_type_registry(selection.active);
    for (const auto& [key, bond] : bonds.entries()) {
        if (bond.fixed) {
            selection.warnings.push_back(fmt::cat("bond ", dashed(bond.names), " is FIXED at ", bond.r0,
                                                  " \u00c5 by its Bonds entry; written with a placeholder constant "
                                                  "(set SHAKE or RIGID in your LAMMPS input)"));
        } else if (bond.placeholder) {
            selection.warnings.push_back(fmt::cat("bond ", dashed(bond.names),
                                                  " has no Bonds entry; defaulted to rigid placeholder (set SHAKE "
                                                  "or RIGID in your LAMMPS input)"));
        }
    }
    for (const auto& [key, angle] : angles.entries()) {
        if (angle.placeholder) {
            selection.warnings.push_back(fmt::cat("angle ", dashed(angle.names),
                                                  " has no Bends entry; defaulted to rigid placeholder (set SHAKE "
                                                  "or RIGID in your LAMMPS input)"));
        }
    }
    return selection;
}

}  // namespace cellkit
