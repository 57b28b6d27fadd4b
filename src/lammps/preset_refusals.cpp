#include "lammps/preset_refusals.hpp"

#include <algorithm>
#include <optional>

#include "common/number_format.hpp"
#include "lammps/model_mapping.hpp"
#include "lammps/resolve.hpp"

namespace cellkit {
namespace {

using fmt::cat;

// Why the first species is not the water that "lj/cut/tip4p/long 1 2 1 1" describes (oxygen type
// 1 bonded to two hydrogens of type 2, bond type 1 O-H, angle type 1 H-O-H), if it is not.
std::optional<std::string> not_a_water(const Molecule& m) {
    const auto& atoms = m.pseudo_atoms;
    if (atoms.size() != 3)
        return cat("the first species '", m.name, "' has ", atoms.size(), atoms.size() == 1 ? " atom" : " atoms",
                   ", not 3");
    auto bonded = [&m](std::size_t a, std::size_t b) {
        return std::any_of(m.connectivity.begin(), m.connectivity.end(),
                           [a, b](const AtomPair& p) { return (p[0] == a && p[1] == b) || (p[0] == b && p[1] == a); });
    };
    if (atoms[0].type == atoms[1].type || atoms[1].type != atoms[2].type || m.connectivity.size() != 2 ||
        !bonded(0, 1) || !bonded(0, 2)) {
        return cat("the first species '", m.name, "' (atoms ", atoms[0].type, ", ", atoms[1].type, ", ", atoms[2].type,
                   ") is not an oxygen, written first, bonded to two hydrogens of one type");
    }
    return std::nullopt;
}

// LAMMPS takes the two atoms after every type-1 atom, by atom ID, as its hydrogens.
std::optional<std::string> stray_oxygen(const ActiveSpeciesList& active, const std::string& oxygen,
                                        const std::string& hydrogen) {
    for (const ActiveSpecies& s : active) {
        const auto& atoms = s.resolved.molecule->pseudo_atoms;
        for (std::size_t p = 0; p < atoms.size(); ++p) {
            if (atoms[p].type != oxygen) continue;
            if (p + 2 < atoms.size() && atoms[p + 1].type == hydrogen && atoms[p + 2].type == hydrogen) continue;
            return cat("species '", s.resolved.molecule->name, "' has atom type 1 (", oxygen, ") at atom ", p,
                       " without two atoms of type 2 (", hydrogen, ") after it");
        }
    }
    return std::nullopt;
}

// LAMMPS leaves the Lennard-Jones term out for the water hydrogen and insists on its epsilon
// being 0 as written; the text, not the value, decides.
std::optional<std::string> hydrogen_well(const std::string& hydrogen, const ForceField& force_field) {
    const PseudoAtomParams* p = force_field.find(hydrogen);
    if (p == nullptr) return std::nullopt;
    std::string written;
    fmt::append_fixed(written, p->epsilon * kcal_per_kelvin, 7);
    if (written.find_first_of("123456789") == std::string::npos) return std::nullopt;
    return cat("the Tip4p preset needs the water hydrogen, atom type 2 (", hydrogen,
               "), to have no Lennard-Jones well, but pair_coeff 2 2 gives it epsilon ", written,
               " kcal/mol; LAMMPS will refuse it (\"Water H epsilon must be 0.0 for pair style lj/cut/tip4p/long\"): "
               "drop the SelfInteractions entry of ",
               hydrogen, " or set its epsilon to 0, or choose another preset");
}

}  // namespace

std::vector<std::string> preset_refusals(OptionalPairSetup pair_style, const ActiveSpeciesList& active,
                                         const TypeRegistries& registries, const ForceField& force_field) {
    std::vector<std::string> warnings;
    if (has_long_range_coulomb(pair_style) && charged_types(registries, force_field).empty()) {
        warnings.push_back(cat("every atom type has charge 0, and LAMMPS refuses the kspace_style of the ",
                               pair_setup_name(*pair_style),
                               " preset for a system without charges (\"Must use kspace_modify gewald for uncharged "
                               "system\"); choose the LjCut preset, or add kspace_modify gewald to your LAMMPS "
                               "input"));
    }
    if (pair_style == PairSetup::Tip4p && !active.empty()) {
        const Molecule& first = *active.front().resolved.molecule;
        std::optional<std::string> reason = not_a_water(first);
        if (!reason) reason = stray_oxygen(active, first.pseudo_atoms[0].type, first.pseudo_atoms[1].type);
        if (!reason) {
            if (auto well = hydrogen_well(first.pseudo_atoms[1].type, force_field)) warnings.push_back(*well);
        } else {
            warnings.push_back(
                cat("the Tip4p preset takes atom types 1 and 2 as the oxygen and hydrogen of a water, "
                    "bond type 1 as its O-H bond and angle type 1 as its H-O-H angle, but ",
                    *reason,
                    "; LAMMPS will refuse the files or place the M site wrongly: give the three-site "
                    "water first, oxygen first, or choose another preset"));
        }
    }
    return warnings;
}

}  // namespace cellkit
