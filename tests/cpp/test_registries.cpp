#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "lammps/type_registry.hpp"
#include "pipeline/active_species.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

using namespace testing;

Molecule co(std::string name, double k, bool reversed = false) {
    Molecule m = molecule(name, {{reversed ? "O" : "C", {0, 0, 0}}, {reversed ? "C" : "O", {1.1, 0, 0}}}, {{0, 1}});
    m.bond_entries.push_back({{"C", "O"}, "HARMONIC", {k, 1.1}});
    return m;
}

const Molecule water = molecule("water", {{"O", {}}, {"H", {1, 0, 0}}, {"H", {0, 1, 0}}}, {{0, 1}, {0, 2}}, true);

TEST(Registries, AtomTypesInOrderOfFirstAppearance) {
    const Molecule carbon_oxide = co("co", 1000), argon = molecule("argon", {{"Ar", {}}});
    ForceField ff{
        .pseudo_atoms = {{"O", params(1, 0)}, {"H", params(1, 0)}, {"C", params(1, 0)}, {"Ar", params(1, 0)}}};
    const ActiveSpeciesList list = testing::active({{&argon, 0}, {&water, 3}, {&carbon_oxide, 1}});
    const AtomTypeRegistry atoms = build_atom_type_registry(list, ff);
    ASSERT_EQ(atoms.size(), 3u);
    for (std::size_t i = 0; const char* name : {"O", "H", "C"}) EXPECT_EQ(atoms.position(name), i++) << name;
    EXPECT_FALSE(atoms.position("Ar"));

    ff.pseudo_atoms.erase("C");
    EXPECT_EQ(message_of([&] { build_atom_type_registry(list, ff); }),
              "molecule 'co' uses pseudo-atom type 'C' not present in the force field");
    EXPECT_EQ(message_of([&] { build_atom_type_registry(testing::active({{&argon, 0}}), ff); }),
              "no atoms to build: all species have count 0, or no species were given");
}

// The first record of a type is kept (here in its direction, not the key's); a count-0 species takes no part.
TEST(Registries, SharedBondTypeKeepsFirstRecordAndSkipsCountZero) {
    const Molecule a = co("a", 1000, true), same = co("same", 1000), other = co("other", 2000);
    const BondTypeRegistry shared = build_bond_type_registry(testing::active({{&other, 0}, {&a, 1}, {&same, 1}}));
    ASSERT_EQ(shared.size(), 1u);
    EXPECT_EQ(shared.entries()[0].first, (std::array<std::string, 2>{"C", "O"}));
    EXPECT_EQ(shared.entries()[0].second.names, (TypeNames<2>{"O", "C"}));
}

// The registries' verdict on a species with these records: "" when records of one type share it.
std::string verdict(ResolvedMolecule records) {
    static const Molecule m = molecule("m", {});
    records.molecule = &m;
    const ActiveSpeciesList list = {{records, 1}};
    return message_of(
        [&] { build_bond_type_registry(list), build_angle_type_registry(list), build_dihedral_type_registry(list); });
}

// Each compared field alone decides, records met in either order: a difference of 1e-6 or more, or a NaN on
// either side, is a conflict; less is not, around 0 as around 1000 (the tolerance is absolute); so does the flag.
TEST(Registries, EveryComparedFieldDecidesAConflict) {
    using D = ResolvedDihedral;
    auto bonds = [](ResolvedBond a, ResolvedBond b) { return verdict({.bonds = {{0, 1, a}, {0, 1, b}}}); };
    auto angles = [](ResolvedAngle a, ResolvedAngle b) { return verdict({.angles = {{0, 1, 2, a}, {0, 1, 2, b}}}); };
    auto dihedrals = [](D a, D b) { return verdict({.dihedrals = {{0, 1, 2, 3, a}, {0, 1, 2, 3, b}}}); };
    auto each_field = [](auto judge, const auto& base, auto... fields) {
        for (int n = 0; auto field : {fields...}) {
            const double exactly_1e6 = base.*field == 0.0 ? 1e-6 : 2e-6;  // 1000 + 1e-6 is not exact
            for (const double delta : {5e-7, 2e-6, exactly_1e6, std::nan("")}) {
                auto other = base;
                other.*field += delta;
                for (const auto& [a, b] : {std::pair(base, other), std::pair(other, base)})
                    EXPECT_EQ(judge(a, b).empty(), delta < 1e-6) << n << ": " << base.*field << " + " << delta;
            }
            ++n;
        }
    };
    for (const double v : {0.0, 1000.0}) {
        const ResolvedBond bond{{"C", "O"}, v, v, false};
        const ResolvedAngle angle{{"H", "O", "H"}, v, v, true};
        each_field(bonds, bond, &ResolvedBond::k, &ResolvedBond::r0);
        each_field(angles, angle, &ResolvedAngle::k, &ResolvedAngle::angle0);
        each_field(dihedrals, D{{"A", "B", "B", "A"}, v, v, v, v}, &D::K1, &D::K2, &D::K3, &D::K4);
        EXPECT_NE(bonds(bond, {{"O", "C"}, v, v, true}), "");
        EXPECT_NE(angles(angle, {{"H", "O", "H"}, v, v, false}), "");
        EXPECT_EQ(bonds(bond, {{"O", "C"}, v, v, false}), "");  // either direction is one type
    }
    // A message names the type by its key, then the record met last, then the one kept.
    EXPECT_EQ(bonds({{"O", "H"}, 1000, 1, true}, {{"H", "O"}, 1000, 1.5, true}),
              "conflicting bond parameters for type pair (H, O): molecule 'm' resolves to k=1000.0000 r0=1.5000, "
              "but an earlier molecule resolved to k=1000.0000 r0=1.0000");
    EXPECT_EQ(angles({{"H", "O", "H"}, 100, 45, true}, {{"H", "O", "H"}, 100, 5.71059, true}),
              "conflicting angle parameters for type triple (H, O, H): molecule 'm' resolves to k=100.0000 "
              "angle0=5.7106, but an earlier molecule resolved to k=100.0000 angle0=45.0000");
    EXPECT_EQ(dihedrals({{"A", "B", "B", "A"}, 0.39744, 0, 1, 0}, {{"A", "B", "B", "A"}, 0.79488, 0, 1, 0}),
              "conflicting torsion parameters for type quadruple (A, B, B, A): molecule 'm' resolves to K1=0.7949 "
              "K2=0.0000 K3=1.0000, but an earlier molecule resolved to K1=0.3974 K2=0.0000 K3=1.0000");
}

TEST(ActiveSpecies, WarningsOnePerPlaceholderTypeAndCountZeroSkipped) {
    Molecule water2 = molecule("water2", {{"H", {1, 0, 0}}, {"O", {}}, {"H", {0, 1, 0}}}, {{1, 0}, {2, 1}}, true);
    const Molecule unresolvable = molecule("broken", {{"X", {}}, {"Y", {1, 0, 0}}}, {{0, 1}});
    const ActiveSelection s = resolve_active({unresolvable, water, water2}, {0, 500, 2});
    ASSERT_EQ(s.active.size(), 2u);
    EXPECT_EQ(s.active[0].count, 500u);
    const std::string rigid = " entry; defaulted to rigid placeholder (set SHAKE or RIGID in your LAMMPS input)";
    EXPECT_EQ(s.warnings,
              (std::vector<std::string>{"bond O-H has no Bonds" + rigid, "angle H-O-H has no Bends" + rigid}));
    EXPECT_EQ(message_of([&] { resolve_active({unresolvable, water}, {0, 0}); }),
              "all species have count 0; nothing to build");
    // Resolution of every species comes before any conflict check.
    const std::string first =
        message_of([&] { resolve_active({water, co("c1", 1), co("c2", 9), unresolvable}, {1, 1, 1, 1}); });
    EXPECT_EQ(first.rfind("molecule 'broken': no Bonds entry for X-Y", 0), 0u) << first;
}

}  // namespace
}  // namespace cellkit
