#include "pipeline/active_species.hpp"

#include "common/number_format.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {
namespace {

// What keeps a rigid molecule rigid in LAMMPS: SHAKE holds bonds and a bent angle of at most three
// atoms; a linear angle or a bigger body needs fix rigid.
std::string inferred_bonds(const ResolvedMolecule& r) {
    std::string bonds;
    for (const BondRecord& b : r.bonds) bonds.append(bonds.empty() ? "" : ", ").append(fmt::cat(b.i, "-", b.j));
    const std::size_t n = r.molecule->pseudo_atoms.size();
    const char* hold = n == 2                                         ? "fix shake on its bond"
                       : n == 3 && r.angles[0].angle.angle0 < 179.0 ? "fix shake on its bonds and angle"
                                                                      : "fix rigid/small on its molecules";
    return fmt::cat("species '", r.molecule->name,
                    "' has no Connectivity: it is a rigid body, as RASPA3 takes it, and cellkit bonds each atom to its "
                    "nearest (atoms ", bonds, ") so that LAMMPS leaves out its intramolecular pairs; hold it rigid "
                    "in your LAMMPS input with ",
                    hold);
}

}  // namespace

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
    for (const ActiveSpecies& s : selection.active) {
        if (s.resolved.molecule->connectivity_inferred) selection.warnings.push_back(inferred_bonds(s.resolved));
    }
    return selection;
}

std::vector<std::string> all_warnings(LoadedInputs& loaded, ActiveSelection& selection) {
    std::vector<std::string> warnings = std::move(loaded.warnings);
    for (std::string& w : selection.warnings) warnings.push_back(std::move(w));
    return warnings;
}

}  // namespace cellkit
