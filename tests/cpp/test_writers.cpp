#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <sstream>

#include "lammps/data_file.hpp"
#include "lammps/forcefield_file.hpp"
#include "lammps/pair_style.hpp"
#include "pipeline/lammps_outputs.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

using testing::message_of;
using testing::molecule;
using testing::params;

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

struct Ethane {
    Molecule m = [] {
        Molecule e = molecule("ethane", {{"CH3", {0, 0, 0}}, {"CH3", {1.54, 0, 0}}}, {{0, 1}});
        e.bond_entries.push_back({{"CH3", "CH3"}, "HARMONIC", {96500.0, 1.54}});
        return e;
    }();
    ForceField ff = [] {
        ForceField f;
        f.pseudo_atoms["CH3"] = params(15.035, 0.0, 98.0, 3.75);
        return f;
    }();
};

TEST(DataFile, EthaneExampleByteForByte) {
    Ethane e;
    const ActiveSpeciesList active = testing::active({{&e.m, 2}});
    const TypeRegistries registries = build_type_registries(active, e.ff);
    const std::vector<Vec3> coords = {{1.0, 2.5, -0.25}, {2.54, 2.5, -0.25}, {10.125, 11, 12}, {11.665, 11, 12}};
    EXPECT_EQ(compose_data_file(active, coords, registries, e.ff, 25.0),
              "created by boxloom\n\n4 atoms\n2 bonds\n1 atom types\n1 bond types\n\n"
              "0.0 25.000000 xlo xhi\n0.0 25.000000 ylo yhi\n0.0 25.000000 zlo zhi\n\nAtoms\n\n"
              "      1       1    1   0.000000    1.000000e0    2.500000e0  -2.500000e-1  # CH3 ethane\n"
              "      2       1    1   0.000000    2.540000e0    2.500000e0  -2.500000e-1  # CH3 ethane\n"
              "      3       2    1   0.000000    1.012500e1    1.100000e1    1.200000e1  # CH3 ethane\n"
              "      4       2    1   0.000000    1.166500e1    1.100000e1    1.200000e1  # CH3 ethane\n"
              "\nBonds\n\n"
              "      1    1       1       2  # CH3-CH3\n"
              "      2    1       3       4  # CH3-CH3\n");
}

// A wrong coordinate count, and values LAMMPS cannot use, are refused instead of written (the
// pipeline test shows that nothing reaches the disk).
TEST(DataFile, RefusesWhatItCannotWrite) {
    Ethane e;
    const ActiveSpeciesList active = testing::active({{&e.m, 2}});
    const TypeRegistries registries = build_type_registries(active, e.ff);
    const double nan = std::nan("");
    const std::vector<Vec3> good(4);
    std::vector<Vec3> bad = good;
    bad[2][1] = nan;
    const std::pair<std::pair<std::vector<Vec3>, double>, std::string> cases[] = {
        {{std::vector<Vec3>(3), 25.0}, "internal error: expected 4 packed atom coordinates, got 3"},
        {{good, 0.0}, "the box edge must be a positive finite length in \u00c5, got 0"},
        {{good, -3.5}, "the box edge must be a positive finite length in \u00c5, got -3.5"},
        {{good, nan}, "the box edge must be a positive finite length in \u00c5, got NaN"},
        {{bad, 25.0}, "the position of atom 3 is not finite: (0, NaN, 0)"},
        {{good, 5e-7},
         "the box edge must be a positive finite length in \u00c5, got 0.0000005, which data.lmp (6 decimals) would "
         "write as 0.000000"},
        {{good, std::nextafter(5e-7, 1.0)}, ""},
    };
    for (const auto& [input, message] : cases) {
        try {
            const std::string text = compose_data_file(active, input.first, registries, e.ff, input.second);
            EXPECT_EQ(message, "");
            EXPECT_NE(text.find("\n0.0 0.000001 xlo xhi\n"), std::string::npos);
        } catch (const Error& error) {
            EXPECT_EQ(error.what(), message);
        }
    }
}

// Rigid water (placeholder bond and angle) then a flexible C-O species with the
// bond written O-C: IDs shift by earlier copies, placeholders get suffixes.
TEST(DataFile, SectionsAcrossSpeciesWithPlaceholders) {
    const Molecule water =
        molecule("water", {{"O", {0, 0, 0}}, {"H", {1, 0, 0}}, {"H", {0, 1, 0}}}, {{0, 1}, {0, 2}}, true);
    Molecule co = molecule("co", {{"O", {0, 0, 0}}, {"C", {1.1, 0, 0}}}, {{0, 1}});
    co.bond_entries.push_back({{"C", "O"}, "harmonic", {1000.0, 1.1}});
    ForceField ff;
    ff.pseudo_atoms["O"] = params(16, -0.8);
    ff.pseudo_atoms["H"] = params(1, 0.4);
    ff.pseudo_atoms["C"] = params(12, 0.8);
    const ActiveSpeciesList active = testing::active({{&water, 2}, {&co, 1}});
    const TypeRegistries registries = build_type_registries(active, ff);
    const auto lines = split_lines(compose_data_file(active, std::vector<Vec3>(8), registries, ff, 10.0));
    auto section = [&](const std::string& title) {
        auto it = std::find(lines.begin(), lines.end(), title);
        std::vector<std::string> out;
        for (it += 2; it != lines.end() && !it->empty(); ++it) out.push_back(*it);
        return out;
    };
    const std::string rigid = "  # This bond shall be rigid, set SHAKE or RIGID in lammps simulation for bond ";
    EXPECT_EQ(section("Bonds"), (std::vector<std::string>{
                                    "      1    1       1       2  # O-H" + rigid + "1",
                                    "      2    1       1       3  # O-H" + rigid + "2",
                                    "      3    1       4       5  # O-H" + rigid + "3",
                                    "      4    1       4       6  # O-H" + rigid + "4",
                                    "      5    2       7       8  # O-C",
                                }));
    EXPECT_EQ(section("Angles"),
              (std::vector<std::string>{
                  "      1    1       2       1       3  # H-O-H  # This angle shall be rigid, set SHAKE or RIGID in "
                  "lammps simulation for angle 1",
                  "      2    1       5       4       6  # H-O-H  # This angle shall be rigid, set SHAKE or RIGID in "
                  "lammps simulation for angle 2",
              }));
    EXPECT_EQ(section("Atoms")[6], "      7       3    1  -0.800000    0.000000e0    0.000000e0    0.000000e0  # O co");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Dihedrals"), 0);
    EXPECT_EQ(lines[3], "5 bonds");
}

// Rigid water, a single-atom species and a flexible butane, numerous enough for several blocks of
// lines in every section.
class BigBox : public testing::ScratchTest {
protected:
    Molecule water = molecule("water", {{"O", {0, 0, 0}}, {"H", {1, 0, 0}}, {"H", {0, 1, 0}}}, {{0, 1}, {0, 2}}, true);
    Molecule methane = molecule("methane", {{"C4", {0, 0, 0}}});
    Molecule butane = [] {
        Molecule m = molecule("butane", {{"C3", {0, 0, 0}}, {"C2", {1, 1, 0}}, {"C2", {2, 0, 0}}, {"C3", {3, 1, 0}}},
                              {{0, 1}, {2, 1}, {2, 3}});
        m.bond_entries = {{{"C3", "C2"}, "HARMONIC", {96500, 1.54}}, {{"C2", "C2"}, "HARMONIC", {96500, 1.54}}};
        m.bend_entries = {{{"C3", "C2", "C2"}, "HARMONIC", {62500, 114}}};
        m.torsion_entries = {{{"C3", "C2", "C2", "C3"}, "TRAPPE", {0, 355.03, -68.19, 791.32}}};
        return m;
    }();
    ForceField ff = [] {
        ForceField f;
        for (const char* type : {"O", "H", "C4", "C3", "C2"}) f.pseudo_atoms[type] = params(12, 0.25);
        return f;
    }();
    ActiveSpeciesList box = testing::active({{&water, 5000}, {&methane, 3001}, {&butane, 4000}});
    TypeRegistries registries = build_type_registries(box, ff);
    std::vector<Vec3> coords = [] {
        std::vector<Vec3> c(34001);
        for (std::size_t i = 0; i < c.size(); ++i) c[i] = {i * 0.001, -1.0 * i, 1e-3 / (i + 1)};
        return c;
    }();
};

TEST_F(BigBox, EveryLineCarriesItsIdsAndAllWaysWriteTheSameBytes) {
    const std::string text = compose_data_file(box, coords, registries, ff, 100.0, 1);
    for (const unsigned threads : {2u, 5u})
        EXPECT_EQ(compose_data_file(box, coords, registries, ff, 100.0, threads), text);
    write_data_file(dir_ / "data.lmp", box, coords, registries, ff, 100.0);
    std::ifstream file(dir_ / "data.lmp", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), text);

    // The IDs the walk species -> copies -> records gives, spelled out plainly.
    std::vector<std::vector<std::uint64_t>> atoms, bonds, angles, dihedrals;
    std::uint64_t offset = 0, molecule_id = 0;
    for (const ActiveSpecies& s : box) {
        for (std::uint64_t copy = 0; copy < s.count; ++copy, offset += s.resolved.molecule->pseudo_atoms.size()) {
            ++molecule_id;
            for (std::size_t a = 0; a < s.resolved.molecule->pseudo_atoms.size(); ++a) {
                atoms.push_back({offset + a + 1, molecule_id});
            }
            for (const auto& b : s.resolved.bonds) bonds.push_back({b.i + offset + 1, b.j + offset + 1});
            for (const auto& a : s.resolved.angles)
                angles.push_back({a.i + offset + 1, a.j + offset + 1, a.k + offset + 1});
            for (const auto& d : s.resolved.dihedrals) {
                dihedrals.push_back({d.i + offset + 1, d.j + offset + 1, d.k + offset + 1, d.l + offset + 1});
            }
        }
    }
    const auto lines = split_lines(text);
    auto check = [&](const std::string& title, const std::vector<std::vector<std::uint64_t>>& expected,
                     std::size_t at) {
        auto it = std::find(lines.begin(), lines.end(), title) + 2;
        for (std::size_t n = 0; n < expected.size(); ++n, ++it) {
            std::istringstream fields(*it);
            std::vector<std::string> f{std::istream_iterator<std::string>(fields), {}};
            std::vector<std::uint64_t> ids;
            for (std::size_t k = at; k < at + expected[n].size(); ++k) ids.push_back(std::stoull(f[k]));
            ASSERT_EQ(f[0], std::to_string(n + 1)) << *it;
            ASSERT_EQ(ids, expected[n]) << *it;
            if (title == "Atoms") ASSERT_NEAR(std::stod(f[5]), coords[n][1], 1e-6 * n) << *it;
            if (f.back() != f[0] && it->find("rigid") != std::string::npos) FAIL() << *it;
        }
        EXPECT_TRUE(it == lines.end() || it->empty());
    };
    check("Atoms", atoms, 0);
    check("Bonds", bonds, 2);
    check("Angles", angles, 2);
    check("Dihedrals", dihedrals, 2);
}

// A sink that fails or a stop request ends the write on either path, workers and all.
TEST_F(BigBox, FailuresAndStopsEndTheWrite) {
    class FullDisk : public TextSink {
        void emit(std::string_view text) override {
            if ((taken_ += text.size()) > 2'000'000) fail("disk full");
        }
        std::size_t taken_ = 0;
    };
    for (const unsigned threads : {1u, 3u}) {
        FullDisk sink;
        EXPECT_EQ(message_of([&] { write_data_file(sink, box, coords, registries, ff, 100.0, {threads, {}}); }),
                  "disk full");
        StringSink stopped;
        EXPECT_THROW(write_data_file(stopped, box, coords, registries, ff, 100.0, {threads, [] { return true; }}),
                     Interrupted);
        EXPECT_THROW(
            write_data_file(dir_ / "data.lmp", box, coords, registries, ff, 100.0, {threads, [] { return true; }}),
            Interrupted);
        EXPECT_TRUE(std::filesystem::is_empty(dir_));
    }
}

TEST(ForceFieldFile, WaterExampleLineByLine) {
    ForceField ff;
    ff.pseudo_atoms["O"] = params(15.9994, -0.8476, 78.2, 3.166, {"water model reference"});
    ff.pseudo_atoms["H"] = params(1.008, 0.4238);
    TypeRegistries r;
    r.atoms.insert_or_get("O", {});
    r.atoms.insert_or_get("H", {});
    r.bonds.insert_or_get({"H", "O"}, ResolvedBond{{"O", "H"}, 1000.0, 1.0, true});
    r.angles.insert_or_get({"H", "O", "H"}, ResolvedAngle{{"H", "O", "H"}, 100.0, 109.47, true});
    const std::string text = generate_forcefield_file(ff, r, PairSetup::LjCutCoulLong, false);
    std::string rule = "# ";
    for (int i = 0; i < 79; ++i) rule += "\u2501";
    const std::vector<std::string> expected = {
        rule, "", "# Atom types : O, H", "# Pair setup : Some(LjCutCoulLong)  |  Explicit LB: false", rule, "",
        rule, "# SOURCES", "#", "#   water model reference", "#", rule, "", "# Masses", "mass 1 15.9994  # O",
        "mass 2 1.008  # H", "", "", "# Setting up pair style", "", "pair_style lj/cut/coul/long 10.0 10.0", "",
        "kspace_style pppm 1.0e-4", "pair_modify tail yes mix arithmetic # ATC + LB mixing", "", "",
        "# LJ Pair Coefficients", "pair_coeff 1 1 0.1553994 3.1660000 # O-O", "pair_coeff 2 2 0.0000000 0.0000000 # H-H",
        "", "", "# Chemical bond 2 particles", "bond_style harmonic",
        "# WARNING: no Bonds entry for O-H -> DEFAULT placeholder constant used.",
        "# This bond MUST be constrained rigid (LAMMPS `fix shake` or `fix rigid`).",
        "bond_coeff 1 1000.0000 1.000000 # O-H", "", "", "# Angle 3 particles", "angle_style harmonic",
        "# WARNING: no Bends entry for H-O-H -> DEFAULT placeholder constant used.",
        "# This angle MUST be constrained rigid (LAMMPS `fix shake` or `fix rigid`).",
        "angle_coeff 1 100.0000 109.4700 # H-O-H", "", "", "# Dihedral 4 particles", "# none", "", "", "# Charges",
        "set type 1 charge -0.8476 # O", "set type 2 charge 0.4238 # H"};
    auto lines = split_lines(text);
    ASSERT_EQ(lines.size(), 52u);
    EXPECT_EQ(lines[1].rfind("# Generated by boxloom", 0), 0u);
    lines[1].clear();
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(text.back(), '\n');
}

TEST(ForceFieldFile, CrossPairsOverridesAndSources) {
    ForceField ff;
    ff.pseudo_atoms["B"] = params(1, 0, 100.0, 3.5, {"alpha\r\nbeta\n"});
    ff.pseudo_atoms["A"] = params(1, 0, 50.0, 3.0, {"alpha\r\nbeta\n", ""});
    ff.pseudo_atoms["Hq"] = params(1, 0.5, 0.0, 1.0);
    ff.binary_pairs[norm_pair_key("A", "B")] = BinaryPairParams{10.0, 3.2, "pair source"};
    TypeRegistries r;
    for (const char* name : {"B", "A", "Hq"}) r.atoms.insert_or_get(name, {});

    const std::string mixed = generate_forcefield_file(ff, r, std::nullopt, true);
    EXPECT_NE(mixed.find("pair_coeff 1 1 0.1987204 3.5000000 # B-B\n"
                         "pair_coeff 1 2 0.0198720 3.2000000 # B-A  (non-ideal mixing override)\n"
                         "pair_coeff 1 3 0.0000000 0.0000000 # B-Hq\n"
                         "pair_coeff 2 2 0.0993602 3.0000000 # A-A\n"
                         "pair_coeff 2 3 0.0000000 0.0000000 # A-Hq\n"
                         "pair_coeff 3 3 0.0000000 1.0000000 # Hq-Hq\n\n"),
              std::string::npos)
        << mixed;
    EXPECT_NE(mixed.find("# SOURCES\n#\n#   alpha\n#   beta\n#\n#   pair source\n#\n#\n"), std::string::npos) << mixed;
    EXPECT_NE(mixed.find("# Pair setup : None  |  Explicit LB: true\n"), std::string::npos);
    EXPECT_NE(mixed.find("\n# Setting up pair style\n\n# INSERT YOUR CUSTOM PAIR STYLE HERE\n\n"
                         "# DO NOT FORGET TO SET KSPACE STYLE IF NEEDED\n\n\n# LJ Pair"),
              std::string::npos);
    EXPECT_EQ(mixed.find("pair_modify"), std::string::npos);

    const std::string lammps_mixed = generate_forcefield_file(ff, r, PairSetup::LjCut, false);
    EXPECT_NE(lammps_mixed.find("# B-B\npair_coeff 1 2 0.0198720 3.2000000 # B-A  (non-ideal mixing override)\n"
                                "pair_coeff 2 2"),
              std::string::npos);
    EXPECT_EQ(lammps_mixed.find("B-Hq"), std::string::npos);
    EXPECT_NE(lammps_mixed.find("pair_style lj/cut 10.0\npair_modify tail yes mix arithmetic # ATC + LB mixing\n\n"),
              std::string::npos);
}

// LAMMPS reads no inf or NaN; whatever overflows on the way names its entry instead of being written.
TEST(ForceFieldFile, NonFiniteNumbersNameTheirEntry) {
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::nan("");
    struct Case {
        double eps_a, sigma_a, mass_a;
        ResolvedBond bond;
        ResolvedAngle angle;
        ResolvedDihedral dihedral;
        std::string message;
    };
    const ResolvedBond bond{{"A", "B"}, 1.0, 1.5, false};
    const ResolvedAngle angle{{"A", "B", "B"}, 1.0, 109.5, false};
    const ResolvedDihedral dihedral{{"A", "B", "B", "A"}, 1.0, 2.0, 3.0, 0.0};
    const std::string tail = ", which LAMMPS cannot read; check ";
    const Case cases[] = {
        {1e200, 3.0, 12.0, bond, angle, dihedral,
         "cannot write forcefield.lmp: the epsilon of pair_coeff 1 2 (A-B) is inf" + tail +
             "the SelfInteractions entries of A and B, whose Lorentz-Berthelot mix overflows"},
        {50.0, 1.7e308, 12.0, bond, angle, dihedral,
         "cannot write forcefield.lmp: the sigma of pair_coeff 1 2 (A-B) is inf" + tail +
             "the SelfInteractions entries of A and B, whose Lorentz-Berthelot mix overflows"},
        {inf, 3.0, 12.0, bond, angle, dihedral,
         "cannot write forcefield.lmp: the epsilon of pair_coeff 1 1 (A-A) is inf" + tail +
             "the SelfInteractions entry of A"},
        {50.0, 3.0, nan, bond, angle, dihedral,
         "cannot write forcefield.lmp: the mass of type 1 (A) is NaN" + tail + "the PseudoAtoms entry of A"},
        {50.0, 3.0, 12.0, ResolvedBond{{"A", "B"}, 1000.0, inf, true}, angle, dihedral,
         "cannot write forcefield.lmp: the r0 of bond_coeff 1 (A-B) is inf" + tail +
             "the Bonds entry for A-B or, for this rigid placeholder, the molecule's coordinates"},
        {50.0, 3.0, 12.0, bond, ResolvedAngle{{"A", "B", "B"}, 100.0, nan, true}, dihedral,
         "cannot write forcefield.lmp: the angle0 of angle_coeff 1 (A-B-B) is NaN" + tail +
             "the Bends entry for A-B-B or, for this rigid placeholder, the molecule's coordinates"},
        {50.0, 3.0, 12.0, bond, angle, ResolvedDihedral{{"A", "B", "B", "A"}, 1.0, 2.0, -inf, 0.0},
         "cannot write forcefield.lmp: the K3 of dihedral_coeff 1 (A-B-B-A) is -inf" + tail +
             "the Torsions entry for A-B-B-A"},
        {1e150, 1e150, 12.0, bond, angle, dihedral, ""},
    };
    for (const Case& c : cases) {
        ForceField ff;
        ff.pseudo_atoms["A"] = params(c.mass_a, 0.5, c.eps_a, c.sigma_a);
        ff.pseudo_atoms["B"] = params(14.0, -0.5, 1e200, 1.7e308);
        TypeRegistries r;
        r.atoms.insert_or_get("A", {});
        r.atoms.insert_or_get("B", {});
        r.bonds.insert_or_get(type_key(c.bond), c.bond);
        r.angles.insert_or_get(type_key(c.angle), c.angle);
        r.dihedrals.insert_or_get(type_key(c.dihedral), c.dihedral);
        ff.pseudo_atoms["B"].epsilon = c.eps_a == inf ? 50.0 : c.eps_a;
        ff.pseudo_atoms["B"].sigma = c.sigma_a;
        try {
            generate_forcefield_file(ff, r, PairSetup::LjCut, true);
            EXPECT_EQ("", c.message);
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST(ForceFieldFile, PairStyleBlocks) {
    EXPECT_EQ(gen_pair_style_setup(PairSetup::Tip4p, true),
              "\n# Setting up pair style\n\npair_style lj/cut/tip4p/long 1 2 1 1 0.1546 10.0\n\n"
              "kspace_style pppm/tip4p 1.0e-4\npair_modify tail yes\n\n");
}

TEST(BuildSummary, WaterExampleText) {
    BuildSummary s;
    s.data_path = std::filesystem::path("out") / "data.lmp";
    s.forcefield_path = std::filesystem::path("out") / "forcefield.lmp";
    s.skipped = {"methane"};
    s.warnings = {
        "bond O-H has no Bonds entry; defaulted to rigid placeholder (set SHAKE or RIGID in your LAMMPS input)",
        "angle H-O-H has no Bends entry; defaulted to rigid placeholder (set SHAKE or RIGID in your LAMMPS input)"};
    s.box_len = 24.8338;
    s.n_atoms = 1500, s.n_bonds = 1000, s.n_angles = 500;
    s.n_atom_types = 2, s.n_bond_types = 1, s.n_angle_types = 1;
    s.long_range_coulomb = true;
    EXPECT_EQ(to_text(s),
              "Wrote out/data.lmp\nWrote out/forcefield.lmp\n"
              "box: 24.834 \u00c5 cube  |  atoms: 1500 (2 types)  bonds: 1000 (1 types)  angles: 500 (1 types)  "
              "dihedrals: 0 (0 types)\n"
              "skipped (count 0): methane\n"
              "warning: bond O-H has no Bonds entry; defaulted to rigid placeholder (set SHAKE or RIGID in your "
              "LAMMPS input)\n"
              "warning: angle H-O-H has no Bends entry; defaulted to rigid placeholder (set SHAKE or RIGID in your "
              "LAMMPS input)\n"
              "warning: Long-range Coulomb interaction solver in forcefield file might be adjusted to user "
              "preference.\n");
}

}  // namespace
}  // namespace cellkit
