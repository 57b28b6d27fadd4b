#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "lammps/conformer.hpp"
#include "lammps/resolve.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

constexpr double degrees = 180.0 / std::numbers::pi;

Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}
double norm(const Vec3& v) { return std::sqrt(dot(v, v)); }

// Measured with atan2, which keeps its precision at 0 and 180 degrees where acos loses it.
double bend_of(const std::vector<Vec3>& x, const Angle& a) {
    const Vec3 u = sub(x[a[0]], x[a[1]]), v = sub(x[a[2]], x[a[1]]);
    return std::atan2(norm(cross(u, v)), dot(u, v)) * degrees;
}
double dihedral_of(const std::vector<Vec3>& x, const Dihedral& d) {
    const Vec3 b1 = sub(x[d[1]], x[d[0]]), b2 = sub(x[d[2]], x[d[1]]), b3 = sub(x[d[3]], x[d[2]]);
    const Vec3 n1 = cross(b1, b2), n2 = cross(b2, b3);
    return std::fabs(std::atan2(norm(b2) * dot(b1, n2), dot(n1, n2)) * degrees);
}

const std::vector<double> trappe = {0, 355.03, -68.19, 791.32};

// United-atom alkanes from TraPPE's terms, every atom at the origin as RASPA3's files have them.
Molecule alkane(std::vector<std::string> types, std::vector<AtomPair> bonds, double r0 = 1.54,
                std::optional<std::vector<double>> torsion = trappe) {
    std::vector<PseudoAtom> atoms;
    for (auto& t : types) atoms.push_back({t, {0, 0, 0}});
    Molecule m = testing::molecule("alkane", atoms, bonds);
    for (const char* t : {"CH3", "CH2", "CH", "C"}) m.bond_entries.push_back({{"CH3", t}, "HARMONIC", {96500, r0}});
    m.bond_entries.push_back({{"CH", "CH2"}, "HARMONIC", {96500, r0}});
    m.bond_entries.push_back({{"CH2", "CH2"}, "HARMONIC", {96500, r0}});
    m.bend_entries = {
        {{"CH3", "CH2", "CH2"}, "HARMONIC", {62500, 114}},  {{"CH2", "CH2", "CH2"}, "HARMONIC", {62500, 114}},
        {{"CH3", "CH2", "CH3"}, "HARMONIC", {62500, 114}},  {{"CH3", "CH2", "CH"}, "HARMONIC", {62500, 114}},
        {{"CH2", "CH", "CH3"}, "HARMONIC", {62500, 110}},   {{"CH3", "CH", "CH3"}, "HARMONIC", {62500, 112}},
        {{"CH3", "C", "CH3"}, "HARMONIC", {62500, 109.47}},
    };
    if (torsion) {
        for (const char* t : {"CH3", "CH2"}) {
            m.torsion_entries.push_back({{t, "CH2", "CH2", "CH2"}, "TRAPPE", *torsion});
        }
        m.torsion_entries.push_back({{"CH3", "CH2", "CH2", "CH3"}, "TRAPPE", *torsion});
    }
    return m;
}

const std::vector<std::string> hexane_types = {"CH3", "CH2", "CH2", "CH2", "CH2", "CH3"};
const std::vector<AtomPair> chain_of_6 = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}};

Molecule butane(double r0 = 1.54, std::optional<std::vector<double>> torsion = trappe) {
    return alkane({"CH3", "CH2", "CH2", "CH3"}, {{0, 1}, {1, 2}, {2, 3}}, r0, torsion);
}

TEST(Conformer, HoldsEveryBondBendAndTransDihedral) {
    Molecule fixed = butane(), linear = butane(1.54, std::nullopt);
    for (auto& e : fixed.bond_entries) e = {e.names, "Fixed", {1.43}};
    for (auto& e : linear.bend_entries) e.parameters[1] = 180;
    struct Case {
        Molecule m;
        double r0;
        std::vector<Angle> loose;  // bends the build leaves to the others' symmetry
    };
    const Case cases[] = {
        {alkane(hexane_types, chain_of_6), 1.54, {}},
        // Atom 0 in mid-chain: its second child stands in for a parent.
        {alkane({"CH2", "CH2", "CH3", "CH2", "CH2", "CH3"}, {{0, 1}, {1, 2}, {0, 3}, {3, 4}, {4, 5}}), 1.54, {}},
        {fixed, 1.43, {}},
        {linear, 1.54, {}},
        {alkane({"CH", "CH3", "CH3", "CH3"}, {{0, 1}, {0, 2}, {0, 3}}), 1.54, {}},
        {alkane({"CH3", "CH", "CH3", "CH3"}, {{0, 1}, {1, 2}, {1, 3}}), 1.54, {}},
        // Bends of 110 degrees with the parent, 112 between the children.
        {alkane({"CH3", "CH2", "CH", "CH3", "CH3"}, {{0, 1}, {1, 2}, {2, 3}, {2, 4}}), 1.54, {}},
        {alkane({"C", "CH3", "CH3", "CH3", "CH3"}, {{0, 1}, {0, 2}, {0, 3}, {0, 4}}), 1.54, {{3, 0, 4}}},
        {alkane({"CH3", "C", "CH3", "CH3", "CH3"}, {{0, 1}, {1, 2}, {1, 3}, {1, 4}}), 1.54, {{3, 1, 4}}},
    };
    for (const auto& [m, r0, loose] : cases) {
        const std::vector<Vec3> x = build_conformer(m, "m.json");
        EXPECT_EQ(x[0], (Vec3{0, 0, 0}));
        EXPECT_EQ(x[1], (Vec3{r0, 0, 0}));
        EXPECT_NEAR(x[2][2], 0, 1e-9);
        for (const auto& [i, j] : m.connectivity) EXPECT_NEAR(norm(sub(x[i], x[j])), r0, 1e-9) << i << "-" << j;
        for (const Angle& a : derived_angles(m)) {
            const double theta = find_entry(m.bend_entries, type_names(m, a))->parameters[1];
            const bool exact = std::find(loose.begin(), loose.end(), a) == loose.end();
            EXPECT_NEAR(bend_of(x, a), theta, exact ? 1e-9 : 0.01) << a[0] << "-" << a[1] << "-" << a[2];
        }
        for (const Dihedral& d : derived_dihedrals(m)) {
            if (find_entry(m.torsion_entries, type_names(m, d))) EXPECT_NEAR(dihedral_of(x, d), 180, 1e-9) << d[0];
        }
    }
    EXPECT_EQ(build_conformer(testing::molecule("methane", {{"CH4", {0, 0, 0}}}), "m.json"), (std::vector<Vec3>(1)));
    // Bends no geometry meets (60 degrees with the parent, 150 between): the children as far apart as they can be.
    Molecule strained = alkane({"CH2", "CH", "CH3", "CH3"}, {{0, 1}, {1, 2}, {1, 3}});
    for (auto& e : strained.bend_entries) e.parameters[1] = e.names[0] == "CH2" ? 60 : 150;
    EXPECT_NEAR(bend_of(build_conformer(strained, "m.json"), {2, 1, 3}), 120, 1e-9);
}

// Checked against a scan of the energy, ties to the angle nearer trans.
TEST(Conformer, FirstDihedralAtLowestTorsionEnergy) {
    const std::vector<std::vector<double>> torsions = {
        trappe, {0, 0, 0, -500}, {9, -100, 0, 500}, {0, 100, -500, 0}, {0, 0, 0, 0}};
    for (const auto& c : torsions) {
        double lowest = 0, best = 180;
        for (int step = 180000; step >= 0; --step) {
            const double p = step / 1000.0 / degrees;
            const double u = c[1] * (1 + std::cos(p)) + c[2] * (1 - std::cos(2 * p)) + c[3] * (1 + std::cos(3 * p));
            if (step == 180000 || u < lowest - 1e-9) lowest = u, best = step / 1000.0;
        }
        const std::vector<Vec3> x = build_conformer(butane(1.54, c), "b.json");
        EXPECT_NEAR(dihedral_of(x, {0, 1, 2, 3}), best, 1e-3) << c[1] << " " << c[3];
    }
    const auto x = build_conformer(butane(1.54, std::nullopt), "b.json");
    EXPECT_NEAR(dihedral_of(x, {0, 1, 2, 3}), 180, 1e-9);
}

TEST(Conformer, RefusesWhatGivesNoGeometry) {
    const std::string needs = "which a geometry needs: its atoms all sit at one point";
    const std::string built = "r.json: the geometry built from its bonds, bends and torsions puts atoms ";
    const std::string apart = " \u00c5 apart; give the atoms their coordinates in the file";
    Molecule no_bond = butane(), no_bend = butane(), short_bend = butane();
    no_bond.bond_entries.pop_back();
    no_bend.bend_entries.clear();
    short_bend.bend_entries[0].parameters = {62500};
    const std::pair<Molecule, std::string> cases[] = {
        {alkane({"CH2", "CH2", "CH2"}, {{0, 1}, {1, 2}, {2, 0}}),
         "r.json: atoms 2 and 0 close a ring in Connectivity; cellkit builds a geometry only for chains and branched "
         "molecules, so give the atoms their coordinates in the file"},
        {alkane({"CH3", "CH2", "CH2", "CH3"}, {{0, 1}, {2, 3}}),
         "r.json: atom 2 is not bonded to atom 0 in Connectivity, directly or through other atoms; cellkit builds a "
         "geometry only for a molecule whose atoms are all joined, so give the atoms their coordinates in the file"},
        {no_bond, "r.json: no Bonds entry for atoms 1 and 2 (CH2-CH2), " + needs},
        {no_bend, "r.json: no Bends entry for atoms 0, 1, 2 (CH3-CH2-CH2), " + needs},
        {short_bend, "molecule 'alkane': HARMONIC bend CH3-CH2-CH2 must have [k, angle0], got [62500.0]"},
        {butane(-1.5),
         "r.json: the Bonds entry for atoms 0 and 1 (CH3-CH2) has r0 -1.5 \u00c5; a geometry needs bonds of positive "
         "length"},
        {butane(0.3), built + "0 and 2 0.503" + apart},
        {butane(0.005), built + "0 and 1 0.005" + apart},
        // All cis: the chain curls back onto its first atom.
        {alkane(hexane_types, chain_of_6, 1.54, std::vector<double>{0, -500, 0, 0}), built + "0 and 5 0.732" + apart},
    };
    for (const auto& [m, expected] : cases) {
        EXPECT_EQ(testing::message_of([&] { build_conformer(m, "r.json"); }), expected);
    }
}

}  // namespace
}  // namespace cellkit
