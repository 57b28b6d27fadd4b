// One species as read from its molecule file, and the angles and dihedrals its bonds imply.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "common/error.hpp"
#include "common/vec3.hpp"

namespace cellkit {

struct PseudoAtom {
    std::string type;
    Vec3 position{};
};

// A Bonds, Bends or Torsions entry as written: N type names, potential, numbers.
template <std::size_t N>
struct BondedEntry {
    std::array<std::string, N> names;
    std::string potential;
    std::vector<double> parameters;
};

using BondEntry = BondedEntry<2>;
using BendEntry = BondedEntry<3>;
using TorsionEntry = BondedEntry<4>;

using AtomPair = std::array<std::size_t, 2>;
using Angle = std::array<std::size_t, 3>;     // (i, j, k), j the centre
using Dihedral = std::array<std::size_t, 4>;  // (i, j, k, l), (j, k) the central bond

struct Molecule {
    std::string name;  // file stem
    std::vector<PseudoAtom> pseudo_atoms;
    std::vector<AtomPair> connectivity;  // file order and orientation, indices in range
    std::vector<BondEntry> bond_entries;
    std::vector<BendEntry> bend_entries;
    std::vector<TorsionEntry> torsion_entries;
    bool rigid = false;
    // "Type": "framework": a crystal (a zeolite, a MOF) placed whole, held still in LAMMPS as RASPA3
    // holds it, its atoms bonded to nothing and their pairs with each other left out.
    bool framework = false;
    // A rigid molecule given without Connectivity, as RASPA3 takes one, gets the spanning bonds of
    // its template (template_shape.hpp): what LAMMPS needs to hold it rigid and to leave out its
    // intramolecular pairs.
    bool connectivity_inferred = false;
    std::vector<std::string> warnings;  // keys skipped for their letter case

    // Reads and checks a molecule file; throws FfError naming the file.
    static Molecule load(const std::filesystem::path& path);
};

// The most angles, and the most dihedrals, that the bonds of one molecule may imply; the load
// refuses more before deriving any (one atom bonded to 10,000 others implies 5e7 angles).
inline constexpr std::uint64_t max_derived_per_molecule = 1'000'000;

// The most atoms of a rigid molecule whose bonds the load infers (a search that grows with the
// square of the atoms: about a tenth of a second at this size).
inline constexpr std::size_t max_inferred_atoms = 10'000;

// Angles in order of centre atom, then neighbour positions; the order is part
// of the data file format.
std::vector<Angle> derived_angles(const Molecule& molecule);

// One dihedral per (bond, outer neighbours), bonds in connectivity order.
std::vector<Dihedral> derived_dihedrals(const Molecule& molecule);

}  // namespace cellkit
