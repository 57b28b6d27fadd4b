#include <gtest/gtest.h>

#include <tuple>

#include "ff/type_names.hpp"
#include "lammps/resolve.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

using testing::molecule;

Molecule chain(std::vector<BondEntry> bonds, std::vector<BendEntry> bends, std::vector<TorsionEntry> torsions) {
    Molecule m =
        molecule("butane", {{"CH3", {0, 0, 0}}, {"CH2", {1.54, 0, 0}}, {"CH2", {2, 1.4, 0}}, {"CH3", {3.5, 1.5, 0.3}}},
                 {{0, 1}, {1, 2}, {2, 3}});
    m.bond_entries = std::move(bonds), m.bend_entries = std::move(bends), m.torsion_entries = std::move(torsions);
    return m;
}

const std::vector<BondEntry> good_bonds = {{{"CH2", "CH3"}, "HARMONIC", {1000, 1.5}},
                                           {{"CH2", "CH2"}, "HARMONIC", {96500, 1.54}}};
const std::vector<BendEntry> good_bends = {{{"CH3", "CH2", "CH2"}, "HARMONIC", {62500, 114}}};

// (The numbers LAMMPS gets from the entries are checked by LAMMPS's own energies in the Python tests, a
// bond's names and flag by the data-file tests.)
TEST(Resolve, KeepsConnectivityOrientationAndViewsNames) {
    const Molecule m =
        chain(good_bonds, good_bends, {{{"CH3", "CH2", "CH2", "CH3"}, "trappe", {7, 355.03, -68.19, 791.32}}});
    const ResolvedMolecule r = resolve_molecule(m);
    ASSERT_EQ(r.angles.size(), 2u);
    EXPECT_EQ(r.angles[1].angle.names, (TypeNames<3>{"CH2", "CH2", "CH3"}));
    // Records view the molecule's names instead of copying them (millions of angles are possible).
    EXPECT_EQ(r.angles[1].angle.names[2].data(), m.pseudo_atoms[3].type.data());
    ASSERT_EQ(r.dihedrals.size(), 1u);
    EXPECT_EQ(r.dihedrals[0].dihedral.K4, 0.0);
    // Without a Torsions entry the dihedral is left out (bonds and bends have none to leave).
    EXPECT_TRUE(resolve_molecule(chain(good_bonds, good_bends, {})).dihedrals.empty());
}

// The first entry for the types decides, even one that fails ("HARMONIC " is another name).
TEST(Resolve, FailuresNameMoleculeAndAtomTypes) {
    const std::string rigid_hint = " and the molecule is not declared \"Type\": \"rigid\"; add explicit HARMONIC ";
    const std::vector<BondEntry> first = {{{"CH3", "CH2"}, "HARMONIC ", {1}}, {{"CH3", "CH2"}, "HARMONIC", {1, 2}}};
    const std::pair<Molecule, std::string> cases[] = {
        {chain({}, {}, {}),
         "molecule 'butane': no Bonds entry for CH3-CH2" + rigid_hint + "bond parameters or mark the molecule rigid"},
        {chain(first, {}, {}),
         "molecule 'butane': unsupported bond potential 'HARMONIC ' for CH3-CH2 (only HARMONIC and FIXED are "
         "supported)"},
        {chain({{{"CH2", "CH3"}, "fixed", {1.54, 2.0}}}, {}, {}),
         "molecule 'butane': FIXED bond CH3-CH2 must have [r0], got [1.54, 2.0]"},
        {chain({{{"CH3", "CH2"}, "HARMONIC", {1e-5, 2.5e16, 3}}}, {}, {}),
         "molecule 'butane': HARMONIC bond CH3-CH2 must have [k, r0], got [1e-5, 2.5e16, 3.0]"},
        {chain(good_bonds, {}, {}), "molecule 'butane': no Bends entry for CH3-CH2-CH2" + rigid_hint +
                                        "bend parameters or mark the molecule rigid"},
        {chain(good_bonds, {{{"CH2", "CH2", "CH3"}, "Harmonic", {}}}, {}),
         "molecule 'butane': HARMONIC bend CH3-CH2-CH2 must have [k, angle0], got []"},
        {chain(good_bonds, good_bends, {{{"CH3", "CH2", "CH2", "CH3"}, "OPLS", {1}}}),
         "molecule 'butane': unsupported torsion potential 'OPLS' for CH3-CH2-CH2-CH3 (only TRAPPE is supported)"},
        {chain(good_bonds, good_bends, {{{"CH3", "CH2", "CH2", "CH3"}, "TRAPPE", {1, 2, 3}}}),
         "molecule 'butane': TRAPPE torsion CH3-CH2-CH2-CH3 must have [c0, c1, c2, c3], got [1.0, 2.0, 3.0]"},
        {molecule("bad", {{"O", {0, 0, 0}}, {"H", {0, 0, 0}}, {"H", {1, 0, 0}}}, {{0, 1}, {0, 2}}, true),
         "molecule 'bad': cannot derive the rigid placeholder angle H-O-H (atoms 1, 0, 2): atoms 1 and 0 are at the "
         "same position; fix the coordinates or add a HARMONIC Bends entry"},
    };
    for (const auto& [m, expected] : cases) EXPECT_EQ(testing::message_of([&] { resolve_molecule(m); }), expected);
}

TEST(Resolve, RigidPlaceholdersFromGeometry) {
    // A rigid water's placeholders take lengths and angle from the coordinates; a Bonds entry leaves the angle one.
    const double x = 0.8164965809, z = -0.5773502692;
    Molecule water = molecule("water", {{"O", {0, 0, 0}}, {"H", {x, 0, z}}, {"H", {-x, 0, z}}}, {{0, 1}, {0, 2}}, true);
    ResolvedMolecule r = resolve_molecule(water);
    ASSERT_EQ(r.bonds.size(), 2u);
    EXPECT_EQ(r.bonds[0].bond.k, 1000.0);
    EXPECT_NEAR(r.bonds[1].bond.r0, 1.0, 1e-9);
    ASSERT_EQ(r.angles.size(), 1u);
    EXPECT_EQ(r.angles[0].angle.k, 100.0);
    EXPECT_NEAR(r.angles[0].angle.angle0, 109.4712206, 1e-6);

    water.bond_entries.push_back({{"H", "O"}, "HARMONIC", {1000, 1.0}});
    r = resolve_molecule(water);
    EXPECT_TRUE(r.angles[0].angle.placeholder);

    // Collinear ends give 180 degrees even when rounding pushes the cosine past -1.
    const Molecule co2 =
        molecule("co2", {{"O", {1.606, -1.878, -1.898}}, {"C", {0, 0, 0}}, {"O", {-1.606, 1.878, 1.898}}},
                 {{0, 1}, {1, 2}}, true);
    EXPECT_EQ(resolve_molecule(co2).angles[0].angle.angle0, 180.0);

    // A FIXED bond of a flexible molecule is a constraint at its r0 with the placeholder constant.
    const ResolvedBond fixed =
        resolve_molecule(chain({{{"CH2", "CH3"}, "FIXED", {1.54}}, good_bonds[1]}, good_bends, {})).bonds[0].bond;
    EXPECT_EQ(std::tuple(fixed.k, fixed.r0, fixed.placeholder, fixed.fixed), std::tuple(1000.0, 1.54, true, true));
}

// Bond, angle, dihedral and binary-pair keys: the direction whose names compare smaller as bytes.
TEST(Resolve, CanonicalDirectionComparesBytes) {
    auto names = [](auto... n) { return std::array<std::string, sizeof...(n)>{n...}; };
    EXPECT_EQ(canonical_direction(names("CH3", "C")), names("C", "CH3"));
    EXPECT_EQ(canonical_direction(names("a", "B")), names("B", "a"));
    EXPECT_EQ(canonical_direction(names("\xc3\x85", "Z")), names("Z", "\xc3\x85"));  // bytes, not chars
    EXPECT_EQ(canonical_direction(names("O", "H", "C")), names("C", "H", "O"));
    EXPECT_EQ(canonical_direction(names("A", "C", "B", "A")), names("A", "B", "C", "A"));
    EXPECT_EQ(canonical_direction(names("A", "B", "C", "A")), names("A", "B", "C", "A"));
}

}  // namespace
}  // namespace cellkit
