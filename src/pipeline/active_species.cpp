#include "pipeline/active_species.hpp"

#include <algorithm>
#include <optional>

#include "common/number_format.hpp"
#include "lammps/resolve.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {
namespace {

// What keeps a rigid molecule rigid in LAMMPS: SHAKE holds bonds and a bent angle of at most three
// atoms; a linear angle or a bigger body needs fix rigid.
std::string inferred_bonds(const ResolvedMolecule& r) {
    std::string bonds;
    for (const BondRecord& b : r.bonds) bonds.append(bonds.empty() ? "" : ", ").append(fmt::cat(b.i, "-", b.j));
    const std::size_t n = r.molecule->pseudo_atoms.size();
    const char* hold = n == 2                                       ? "fix shake on its bond"
                       : n == 3 && r.angles[0].angle.angle0 < 179.0 ? "fix shake on its bonds and angle"
                                                                    : "fix rigid/small on its molecules";
    return fmt::cat("species '", r.molecule->name,
                    "' has no Connectivity: it is a rigid body, as RASPA3 takes it, and cellkit bonds each atom to its "
                    "nearest (atoms ",
                    bonds,
                    ") so that LAMMPS leaves out its intramolecular pairs; hold it rigid "
                    "in your LAMMPS input with ",
                    hold);
}

// The dihedrals of a flexible molecule that no Torsions entry covers, by type names: LAMMPS, as
// RASPA3, then lets them turn freely, which a user who left the entries out by mistake should know.
std::optional<std::string> free_dihedrals(const Molecule& molecule) {
    if (molecule.rigid) return std::nullopt;
    std::vector<std::pair<std::string, std::uint64_t>> missing;  // type names, how many; in first-seen order
    std::uint64_t total = 0;
    for (const Dihedral& d : derived_dihedrals(molecule)) {
        const TypeNames<4> names = type_names(molecule, d);
        if (find_entry(molecule.torsion_entries, names) != nullptr) continue;
        const std::string text = dashed(names);
        auto it = std::find_if(missing.begin(), missing.end(), [&](const auto& e) { return e.first == text; });
        if (it == missing.end()) {
            missing.emplace_back(text, 1);
        } else {
            ++it->second;
        }
        ++total;
    }
    if (total == 0) return std::nullopt;
    std::string which;
    for (const auto& [names, count] : missing)
        which.append(which.empty() ? "" : ", ").append(fmt::cat(count, " ", names));
    return fmt::cat("flexible species '", molecule.name, "' has ", total, " dihedral", total == 1 ? "" : "s",
                    " with no Torsions entry (", which,
                    "): they get no dihedral term and turn freely, in LAMMPS as in RASPA3; add Torsions entries if "
                    "they should not");
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
        if (auto w = free_dihedrals(*s.resolved.molecule)) selection.warnings.push_back(std::move(*w));
    }
    return selection;
}

std::vector<std::string> inert_atom_warnings(const ActiveSpeciesList& active, const ForceField& force_field) {
    std::vector<std::string> warnings;
    std::vector<std::string_view> seen;
    for (const ActiveSpecies& s : active) {
        for (const PseudoAtom& atom : s.resolved.molecule->pseudo_atoms) {
            const PseudoAtomParams* p = force_field.find(atom.type);
            if (p == nullptr || p->self_interaction || p->charge != 0.0) continue;
            if (std::find(seen.begin(), seen.end(), atom.type) != seen.end()) continue;
            seen.push_back(atom.type);
            warnings.push_back(fmt::cat("pseudo-atom '", atom.type, "' (in '", s.resolved.molecule->name,
                                        "') has no SelfInteractions entry and no charge: it interacts with nothing "
                                        "but through its bonds; give it a SelfInteractions entry if it should"));
        }
    }
    return warnings;
}

std::vector<std::string> all_warnings(LoadedInputs& loaded, ActiveSelection& selection) {
    std::vector<std::string> warnings = std::move(loaded.warnings);
    for (std::string& w : selection.warnings) warnings.push_back(std::move(w));
    for (std::string& w : inert_atom_warnings(selection.active, loaded.force_field)) warnings.push_back(std::move(w));
    return warnings;
}

}  // namespace cellkit
