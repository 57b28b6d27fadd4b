#include "lammps/resolve.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string_view>

#include "common/ascii.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

using fmt::cat;

constexpr double rigid_bond_k = 1000.0;
constexpr double rigid_angle_k = 100.0;
constexpr double degrees_per_radian = 57.29577951308232;

Vec3 difference(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }

double length(const Vec3& v) { return std::sqrt((v[0] * v[0] + v[1] * v[1]) + v[2] * v[2]); }

// The entry's numbers, once its potential and their count are what LAMMPS's style needs.
template <std::size_t N>
const std::vector<double>& checked_parameters(const Molecule& m, const BondedEntry<N>& entry, const TypeNames<N>& names,
                                              std::string_view kind, std::string_view potential, std::string_view shape,
                                              std::size_t count) {
    if (!equals_ignoring_ascii_case(entry.potential, potential)) {
        fail("molecule '", m.name, "': unsupported ", kind, " potential '", entry.potential, "' for ", dashed(names),
             " (only ", kind == "bond" ? "HARMONIC and FIXED are" : cat(potential, " is"), " supported)");
    }
    if (entry.parameters.size() != count) {
        fail("molecule '", m.name, "': ", potential, " ", kind, " ", dashed(names), " must have ", shape, ", got ",
             fmt::list_form(entry.parameters));
    }
    return entry.parameters;
}

ResolvedBond resolve_bond(const Molecule& m, const AtomPair& atoms) {
    ResolvedBond bond;
    bond.names = type_names(m, atoms);
    if (const BondEntry* entry = find_entry(m.bond_entries, bond.names)) {
        if (equals_ignoring_ascii_case(entry->potential, "FIXED")) {
            // RASPA3 holds the bond at r0: a constraint, as a rigid molecule's bonds are.
            bond.r0 = checked_parameters(m, *entry, bond.names, "bond", "FIXED", "[r0]", 1)[0];
            bond.k = rigid_bond_k;
            bond.placeholder = bond.fixed = true;
            return bond;
        }
        const auto& p = checked_parameters(m, *entry, bond.names, "bond", "HARMONIC", "[k, r0]", 2);
        bond.k = (p[0] * kcal_per_kelvin) * 0.5;
        bond.r0 = p[1];
        return bond;
    }
    if (!m.rigid) {
        fail("molecule '", m.name, "': no Bonds entry for ", dashed(bond.names),
             " and the molecule is not declared \"Type\": \"rigid\"; add explicit HARMONIC bond parameters "
             "or mark the molecule rigid");
    }
    bond.k = rigid_bond_k;
    bond.r0 = length(difference(m.pseudo_atoms[atoms[0]].position, m.pseudo_atoms[atoms[1]].position));
    bond.placeholder = true;
    return bond;
}

double placeholder_angle(const Molecule& m, const Angle& atoms, const TypeNames<3>& names) {
    const Vec3& centre = m.pseudo_atoms[atoms[1]].position;
    const Vec3 u = difference(m.pseudo_atoms[atoms[0]].position, centre);
    const Vec3 v = difference(m.pseudo_atoms[atoms[2]].position, centre);
    const double lu = length(u);
    const double lv = length(v);
    if (lu == 0.0 || lv == 0.0) {
        // The angle has no direction to measure; NaN must not reach the LAMMPS files.
        const std::size_t end = lu == 0.0 ? atoms[0] : atoms[2];
        fail("molecule '", m.name, "': cannot derive the rigid placeholder angle ", dashed(names), " (atoms ", atoms[0],
             ", ", atoms[1], ", ", atoms[2], "): atoms ", end, " and ", atoms[1],
             " are at the same position; fix the coordinates or add a HARMONIC Bends entry");
    }
    const double c = std::clamp((u[0] * v[0] + u[1] * v[1] + u[2] * v[2]) / (lu * lv), -1.0, 1.0);
    return std::acos(c) * degrees_per_radian;
}

ResolvedAngle resolve_angle(const Molecule& m, const Angle& atoms) {
    ResolvedAngle angle;
    angle.names = type_names(m, atoms);
    if (const BendEntry* entry = find_entry(m.bend_entries, angle.names)) {
        const auto& p = checked_parameters(m, *entry, angle.names, "bend", "HARMONIC", "[k, angle0]", 2);
        angle.k = (p[0] * kcal_per_kelvin) * 0.5;
        angle.angle0 = p[1];
        return angle;
    }
    if (!m.rigid) {
        fail("molecule '", m.name, "': no Bends entry for ", dashed(angle.names),
             " and the molecule is not declared \"Type\": \"rigid\"; add explicit HARMONIC bend parameters "
             "or mark the molecule rigid");
    }
    angle.k = rigid_angle_k;
    angle.angle0 = placeholder_angle(m, atoms, angle.names);
    angle.placeholder = true;
    return angle;
}

// Absent when the molecule has no Torsions entry for these types.
std::optional<ResolvedDihedral> resolve_dihedral(const Molecule& m, const Dihedral& atoms) {
    ResolvedDihedral dihedral;
    dihedral.names = type_names(m, atoms);
    const TorsionEntry* entry = find_entry(m.torsion_entries, dihedral.names);
    if (entry == nullptr) return std::nullopt;
    const auto& c = checked_parameters(m, *entry, dihedral.names, "torsion", "TRAPPE", "[c0, c1, c2, c3]", 4);
    // TraPPE c1(1+cos) + c2(1-cos2) + c3(1+cos3) is OPLS with K_n = 2 c_n; c0 only shifts the energy.
    dihedral.K1 = (c[1] + c[1]) * kcal_per_kelvin;
    dihedral.K2 = (c[2] + c[2]) * kcal_per_kelvin;
    dihedral.K3 = (c[3] + c[3]) * kcal_per_kelvin;
    dihedral.K4 = 0.0;
    return dihedral;
}

}  // namespace

ResolvedMolecule resolve_molecule(const Molecule& molecule) {
    ResolvedMolecule out;
    out.molecule = &molecule;
    out.bonds.reserve(molecule.connectivity.size());
    for (const AtomPair& pair : molecule.connectivity) {
        out.bonds.push_back({pair[0], pair[1], resolve_bond(molecule, pair)});
    }
    const std::vector<Angle> angles = derived_angles(molecule);
    out.angles.reserve(angles.size());
    for (const Angle& a : angles) out.angles.push_back({a[0], a[1], a[2], resolve_angle(molecule, a)});
    for (const Dihedral& d : derived_dihedrals(molecule)) {
        if (auto dihedral = resolve_dihedral(molecule, d)) {
            out.dihedrals.push_back({d[0], d[1], d[2], d[3], std::move(*dihedral)});
        }
    }
    return out;
}

std::array<std::string, 2> norm_pair(const std::string& a, const std::string& b) {
    return canonical_direction<2>({a, b});
}

std::array<std::string, 3> norm_triple(const std::string& a, const std::string& b, const std::string& c) {
    return canonical_direction<3>({a, b, c});
}

std::array<std::string, 4> norm_quad(const std::string& a, const std::string& b, const std::string& c,
                                     const std::string& d) {
    return canonical_direction<4>({a, b, c, d});
}

}  // namespace cellkit
