// Gives every bond, angle and dihedral of a species its LAMMPS parameters.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "ff/molecule.hpp"
#include "ff/type_names.hpp"

namespace cellkit {

inline constexpr double kcal_per_kelvin = 0.0019872041;

// The names of a record view the type names of its molecule's atoms: a molecule may imply
// millions of angles, and a copy of each name per record would multiply its memory. The
// Molecule outlives every record and registry of the build.
template <std::size_t N>
using TypeNames = std::array<std::string_view, N>;

struct ResolvedBond {
    TypeNames<2> names;                // connectivity orientation
    double k = 0.0;                    // kcal/mol/Å²
    double r0 = 0.0;                   // Å
    bool placeholder = false;          // a constraint written with a placeholder constant
    bool fixed = false;                // ... because its Bonds entry is FIXED [r0]
};

struct ResolvedAngle {
    TypeNames<3> names;                // centre in the middle
    double k = 0.0;                    // kcal/mol/rad²
    double angle0 = 0.0;               // degrees
    bool placeholder = false;
};

struct ResolvedDihedral {
    TypeNames<4> names;
    double K1 = 0.0, K2 = 0.0, K3 = 0.0, K4 = 0.0;  // OPLS, kcal/mol
};

struct BondRecord {
    std::size_t i, j;
    ResolvedBond bond;
};
struct AngleRecord {
    std::size_t i, j, k;
    ResolvedAngle angle;
};
struct DihedralRecord {
    std::size_t i, j, k, l;
    ResolvedDihedral dihedral;
};

struct ResolvedMolecule {
    std::vector<BondRecord> bonds;
    std::vector<AngleRecord> angles;
    std::vector<DihedralRecord> dihedrals;  // only those with a Torsions entry
    const Molecule* molecule = nullptr;     // borrowed; must outlive this record
};

// Throws Error naming the molecule on a missing entry or unsupported potential.
ResolvedMolecule resolve_molecule(const Molecule& molecule);

// The first entry, in file order, whose names match these type names read either way; null if none.
template <std::size_t N>
const BondedEntry<N>* find_entry(const std::vector<BondedEntry<N>>& entries, const TypeNames<N>& names) {
    for (const auto& entry : entries) {
        if (std::equal(names.begin(), names.end(), entry.names.begin()) ||
            std::equal(names.rbegin(), names.rend(), entry.names.begin())) {
            return &entry;
        }
    }
    return nullptr;
}

// The type names of these atoms of the molecule, in this order.
template <std::size_t N>
TypeNames<N> type_names(const Molecule& m, const std::array<std::size_t, N>& atoms) {
    TypeNames<N> names;
    for (std::size_t n = 0; n < N; ++n) names[n] = m.pseudo_atoms[atoms[n]].type;
    return names;
}

// Canonical type keys, so a type read in either direction has one key.
std::array<std::string, 2> norm_pair(const std::string& a, const std::string& b);
std::array<std::string, 3> norm_triple(const std::string& a, const std::string& b, const std::string& c);
std::array<std::string, 4> norm_quad(const std::string& a, const std::string& b, const std::string& c,
                                     const std::string& d);

}  // namespace cellkit
