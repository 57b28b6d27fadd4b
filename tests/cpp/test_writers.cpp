#include <gtest/gtest.h>

#include <cmath>
#include <iterator>
#include <limits>
#include <map>
#include <sstream>

#include "lammps/data_file.hpp"
#include "lammps/forcefield_file.hpp"
#include "lammps/pair_style.hpp"
#include "pipeline/lammps_outputs.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

using namespace testing;

Molecule bonded(Molecule m, std::vector<BondEntry> bonds, std::vector<BendEntry> bends = {},
                std::vector<TorsionEntry> torsions = {}) {
    m.bond_entries = std::move(bonds), m.bend_entries = std::move(bends), m.torsion_entries = std::move(torsions);
    return m;
}

TypeRegistries atom_types(std::initializer_list<const char*> names) {
    TypeRegistries r;
    for (const char* name : names) r.atoms.insert_or_get(name, {});
    return r;
}

// The example text, and a wrong coordinate count or values LAMMPS cannot use refused instead of
// written (the pipeline test shows that nothing reaches the disk).
TEST(DataFile, EthaneExampleAndWhatItRefuses) {
    const Molecule ethane = bonded(molecule("ethane", {{"CH3", {0, 0, 0}}, {"CH3", {1.54, 0, 0}}}, {{0, 1}}),
                                   {{{"CH3", "CH3"}, "HARMONIC", {96500.0, 1.54}}});
    const ForceField ff{.pseudo_atoms = {{"CH3", params(15.035, 0.0, 98.0, 3.75)}}};
    const ActiveSpeciesList active = testing::active({{&ethane, 2}});
    const TypeRegistries registries = build_type_registries(active, ff);
    const double nan = std::nan("");
    const std::vector<Vec3> zeros(4),
        bad = {{}, {}, {0, nan, 0}, {}},
        coords = {{1.0, 2.5, -0.25}, {2.54, 2.5, -0.25}, {10.125, 11, 12}, {11.665, 11, 12}};
    const std::string edge = "the box edge must be a positive finite length in \u00c5, got ";
    const std::tuple<std::vector<Vec3>, double, std::string> cases[] = {
        {coords, 25.0,
         "created by boxloom\n\n4 atoms\n2 bonds\n1 atom types\n1 bond types\n\n"
         "0.0 25.000000 xlo xhi\n0.0 25.000000 ylo yhi\n0.0 25.000000 zlo zhi\n\nAtoms\n\n"
         "      1       1    1   0.000000    1.000000e0    2.500000e0  -2.500000e-1  # CH3 ethane\n"
         "      2       1    1   0.000000    2.540000e0    2.500000e0  -2.500000e-1  # CH3 ethane\n"
         "      3       2    1   0.000000    1.012500e1    1.100000e1    1.200000e1  # CH3 ethane\n"
         "      4       2    1   0.000000    1.166500e1    1.100000e1    1.200000e1  # CH3 ethane\n"
         "\nBonds\n\n      1    1       1       2  # CH3-CH3\n      2    1       3       4  # CH3-CH3\n"},
        {std::vector<Vec3>(3), 25.0, "internal error: expected 4 packed atom coordinates, got 3"},
        {zeros, 0.0, edge + "0"},
        {zeros, -3.5, edge + "-3.5"},
        {zeros, nan, edge + "NaN"},
        {bad, 25.0, "the position of atom 3 is not finite: (0, NaN, 0)"},
        {zeros, 5e-7, edge + "0.0000005, which data.lmp (6 decimals) would write as 0.000000"},
    };
    for (const auto& [xyz, box, expected] : cases) {
        std::string text;
        const std::string message = message_of([&] { text = compose_data_file(active, xyz, registries, ff, box); });
        EXPECT_EQ(message.empty() ? text : message, expected);
    }
    EXPECT_NE(
        compose_data_file(active, zeros, registries, ff, std::nextafter(5e-7, 1.0)).find("\n0.0 0.000001 xlo xhi\n"),
        std::string::npos);
}

// The examples' rigid water, one-atom methane and flexible butane, numerous enough for several
// blocks of lines in every section.
class BigBox : public testing::ScratchTest {
protected:
    const std::filesystem::path examples = std::filesystem::path(__FILE__).parent_path() / "../../examples";
    Molecule water = Molecule::load(examples / "water.json"), methane = Molecule::load(examples / "methane.json"),
             butane = Molecule::load(examples / "butane.json");
    ForceField ff = ForceField::load(examples / "force_field.json");
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
    // The counts, and where species meet: a rigid placeholder's comment, bonds named as the molecule lists them.
    const std::string rigid = " shall be rigid, set SHAKE or RIGID in lammps simulation for ";
    for (const std::string& lines : std::initializer_list<std::string>{
             "created by boxloom\n\n34001 atoms\n22000 bonds\n13000 angles\n4000 dihedrals\n5 atom types\n"
             "3 bond types\n2 angle types\n1 dihedral types\n\n",
             "      1       1    1  -0.847600    0.000000e0   -0.000000e0   1.000000e-3  # Ow water\n",
             "  # Ow-Hw  # This bond" + rigid + "bond 10000\n  10001    2   18002   18003  # CH3-CH2\n",
             "\n  10002    3   18003   18004  # CH2-CH2\n  10003    2   18004   18005  # CH2-CH3\n",
             "  # Hw-Ow-Hw  # This angle" + rigid + "angle 5000\n"})
        EXPECT_NE(text.find(lines), std::string::npos) << lines;

    // Per line, the IDs after its own: an atom's molecule, a bond's (angle's, ...) atoms.
    std::map<std::string, std::vector<std::vector<std::uint64_t>>> expected;
    std::uint64_t first = 1, molecule_id = 0;  // the first atom ID of a copy
    for (const ActiveSpecies& s : box) {
        for (std::uint64_t copy = 0; copy < s.count; ++copy, first += s.resolved.molecule->pseudo_atoms.size()) {
            expected["Atoms"].resize(expected["Atoms"].size() + s.resolved.molecule->pseudo_atoms.size(),
                                     {++molecule_id});
            for (const auto& b : s.resolved.bonds) expected["Bonds"].push_back({b.i + first, b.j + first});
            for (const auto& a : s.resolved.angles)
                expected["Angles"].push_back({a.i + first, a.j + first, a.k + first});
            for (const auto& d : s.resolved.dihedrals)
                expected["Dihedrals"].push_back({d.i + first, d.j + first, d.k + first, d.l + first});
        }
    }
    std::map<std::string, std::vector<std::string>> sections;  // the lines under each title, up to a blank line
    std::istringstream in(text);
    for (std::string line, title; std::getline(in, line);) {
        if (line.empty())
            title.clear();
        else if (expected.contains(line))
            title = line, std::getline(in, line);  // and the blank line under it
        else if (!title.empty())
            sections[title].push_back(line);
    }
    for (const auto& [title, want] : expected) {
        const std::vector<std::string>& got = sections[title];
        ASSERT_EQ(got.size(), want.size()) << title;
        for (std::size_t n = 0; n < got.size(); ++n) {
            std::istringstream in(got[n]);
            const std::vector<std::string> f{std::istream_iterator<std::string>(in), {}};
            ASSERT_EQ(f[0], std::to_string(n + 1)) << got[n];
            for (std::size_t k = 0; k < want[n].size(); ++k)
                ASSERT_EQ(f[k + (title == "Atoms" ? 1 : 2)], std::to_string(want[n][k])) << got[n];
            if (title == "Atoms") ASSERT_NEAR(std::stod(f[5]), coords[n][1], 1e-6 * n) << got[n];
            if (got[n].find("rigid") != std::string::npos) ASSERT_EQ(f.back(), f[0]) << got[n];
        }
    }
}

// A sink that fails or a stop request ends the write on either path, workers and all.
TEST_F(BigBox, FailuresAndStopsEndTheWrite) {
    struct FullDisk : TextSink {
        void emit(std::string_view text) override {
            if ((taken += text.size()) > 2'000'000) fail("disk full");
        }
        std::size_t taken = 0;
    };
    for (const unsigned threads : {1u, 3u}) {
        FullDisk sink;
        EXPECT_EQ(message_of([&] { write_data_file(sink, box, coords, registries, ff, 100.0, {threads, {}}); }),
                  "disk full");
        const DataFileOptions stop{threads, [] { return true; }};
        EXPECT_THROW(write_data_file(dir_ / "data.lmp", box, coords, registries, ff, 100.0, stop), Interrupted);
        EXPECT_TRUE(std::filesystem::is_empty(dir_));
    }
}

TEST(ForceFieldFile, WaterExampleLineByLine) {
    const ForceField ff{.pseudo_atoms = {{"O", params(15.9994, -0.8476, 78.2, 3.166, {"water model reference"})},
                                         {"H", params(1.008, 0.4238)}}};
    TypeRegistries r = atom_types({"O", "H"});
    r.bonds.insert_or_get({"H", "O"}, ResolvedBond{{"O", "H"}, 1000.0, 1.0, true});
    r.angles.insert_or_get({"H", "O", "H"}, ResolvedAngle{{"H", "O", "H"}, 100.0, 109.47, true});
    std::string text = generate_forcefield_file(ff, r, PairSetup::LjCutCoulLong, false, 20.0);
    const std::size_t when = text.find("# Generated by boxloom") + 22;
    text.erase(when, text.find('\n', when) - when);  // only the start of this line is fixed
    std::string rule = "# ";
    for (int i = 0; i < 79; ++i) rule += "\u2501";
    EXPECT_EQ(text, rule +
                        "\n# Generated by boxloom\n# Atom types : O, H\n"
                        "# Pair setup : Some(LjCutCoulLong)  |  Explicit LB: false\n" +
                        rule + "\n\n" + rule + "\n# SOURCES\n#\n#   water model reference\n#\n" + rule +
                        "\n\n# Masses\nmass 1 15.9994  # O\nmass 2 1.008  # H\n\n\n# Setting up pair style\n\n"
                        "pair_style lj/cut/coul/long 10.0 10.0\n\nkspace_style pppm 1.0e-4\n"
                        "pair_modify tail yes mix arithmetic # ATC + LB mixing\n\n\n# LJ Pair Coefficients\n"
                        "pair_coeff 1 1 0.1553994 3.1660000 # O-O\npair_coeff 2 2 0.0000000 0.0000000 # H-H\n\n\n"
                        "# Chemical bond 2 particles\nbond_style harmonic\n"
                        "# WARNING: no Bonds entry for O-H -> DEFAULT placeholder constant used.\n"
                        "# This bond MUST be constrained rigid (LAMMPS `fix shake` or `fix rigid`).\n"
                        "bond_coeff 1 1000.0000 1.000000 # O-H\n\n\n# Angle 3 particles\nangle_style harmonic\n"
                        "# WARNING: no Bends entry for H-O-H -> DEFAULT placeholder constant used.\n"
                        "# This angle MUST be constrained rigid (LAMMPS `fix shake` or `fix rigid`).\n"
                        "angle_coeff 1 100.0000 109.4700 # H-O-H\n\n\n# Dihedral 4 particles\n# none\n\n\n"
                        "# Charges\nset type 1 charge -0.8476 # O\nset type 2 charge 0.4238 # H\n");
    EXPECT_EQ(gen_pair_style_setup(PairSetup::Tip4p, true),
              "\n# Setting up pair style\n\npair_style lj/cut/tip4p/long 1 2 1 1 0.1546 10.0\n\n"
              "kspace_style pppm/tip4p 1.0e-4\npair_modify tail yes\n\n");
}

TEST(ForceFieldFile, CrossPairsOverridesAndSources) {
    const ForceField ff{.pseudo_atoms = {{"B", params(1, 0, 100.0, 3.5, {"alpha\r\nbeta\n"})},
                                         {"A", params(1, 0, 50.0, 3.0, {"alpha\r\nbeta\n", ""})},
                                         {"Hq", params(1, 0.5, 0.0, 1.0)}},
                        .binary_pairs = {{norm_pair_key("A", "B"), {10.0, 3.2, "pair source"}}}};
    const TypeRegistries r = atom_types({"B", "A", "Hq"});
    const std::string mixed = generate_forcefield_file(ff, r, std::nullopt, true, 20.0);
    for (const char* part :
         {"pair_coeff 1 1 0.1987204 3.5000000 # B-B\npair_coeff 1 2 0.0198720 3.2000000 # B-A  (non-ideal mixing "
          "override)\npair_coeff 1 3 0.0000000 0.0000000 # B-Hq\npair_coeff 2 2 0.0993602 3.0000000 # A-A\n"
          "pair_coeff 2 3 0.0000000 0.0000000 # A-Hq\npair_coeff 3 3 0.0000000 1.0000000 # Hq-Hq\n\n",
          "# SOURCES\n#\n#   alpha\n#   beta\n#\n#   pair source\n#\n#\n",
          "\n# Setting up pair style\n\n# INSERT YOUR CUSTOM PAIR STYLE HERE\n\n"
          "# DO NOT FORGET TO SET KSPACE STYLE IF NEEDED\n\n\n# LJ Pair"})
        EXPECT_NE(mixed.find(part), std::string::npos) << part << "\nnot in\n" << mixed;

    EXPECT_NE(generate_forcefield_file(ff, r, PairSetup::LjCut, false, 20.0)
                  .find("pair_style lj/cut 10.0\npair_modify tail yes mix arithmetic # ATC + LB mixing\n\n\n# LJ Pair "
                        "Coefficients\npair_coeff 1 1 0.1987204 3.5000000 # B-B\npair_coeff 1 2 0.0198720 3.2000000 # "
                        "B-A  (non-ideal mixing override)\npair_coeff 2 2 0.0993602 3.0000000 # A-A\npair_coeff 3 3 "),
              std::string::npos);
}

// LAMMPS reads no inf or NaN; whatever overflows on the way names its entry instead of being written.
TEST(ForceFieldFile, NonFiniteNumbersNameTheirEntry) {
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const std::string head = "cannot write forcefield.lmp: the ", tail = ", which LAMMPS cannot read; check ";
    const std::string mix = tail + "the SelfInteractions entries of A and B, whose Lorentz-Berthelot mix overflows";
    const std::string placeholder = " or, for this rigid placeholder, the molecule's coordinates";
    // epsilon, sigma (of A and B alike), mass of A, r0 of A-B, angle0 of A-B-B, K3 of A-B-B-A
    const std::tuple<double, double, double, double, double, double, std::string> cases[] = {
        {50.0, 1.7e308, 12.0, 1.5, 109.5, 3.0, head + "sigma of pair_coeff 1 2 (A-B) is inf" + mix},
        {inf, 3.0, 12.0, 1.5, 109.5, 3.0,
         head + "epsilon of pair_coeff 1 1 (A-A) is inf" + tail + "the SelfInteractions entry of A"},
        {50.0, 3.0, nan, 1.5, 109.5, 3.0, head + "mass of type 1 (A) is NaN" + tail + "the PseudoAtoms entry of A"},
        {50.0, 3.0, 12.0, inf, 109.5, 3.0,
         head + "r0 of bond_coeff 1 (A-B) is inf" + tail + "the Bonds entry for A-B" + placeholder},
        {50.0, 3.0, 12.0, 1.5, nan, 3.0,
         head + "angle0 of angle_coeff 1 (A-B-B) is NaN" + tail + "the Bends entry for A-B-B" + placeholder},
        {50.0, 3.0, 12.0, 1.5, 109.5, -inf,
         head + "K3 of dihedral_coeff 1 (A-B-B-A) is -inf" + tail + "the Torsions entry for A-B-B-A"},
        {1e150, 1e150, 12.0, 1.5, 109.5, 3.0, ""},
    };
    for (const auto& [epsilon, sigma, mass, r0, angle0, k3, message] : cases) {
        const ForceField ff{
            .pseudo_atoms = {{"A", params(mass, 0.5, epsilon, sigma)}, {"B", params(14.0, -0.5, epsilon, sigma)}}};
        TypeRegistries r = atom_types({"A", "B"});
        r.bonds.insert_or_get({"A", "B"}, {{"A", "B"}, 1000.0, r0, true});
        r.angles.insert_or_get({"A", "B", "B"}, {{"A", "B", "B"}, 100.0, angle0, true});
        r.dihedrals.insert_or_get({"A", "B", "B", "A"}, {{"A", "B", "B", "A"}, 1.0, 2.0, k3, 0.0});
        EXPECT_EQ(message_of([&] { generate_forcefield_file(ff, r, PairSetup::LjCut, true, 20.0); }), message);
    }
}

TEST(BuildSummary, WaterExampleText) {
    const std::string rigid = " entry; defaulted to rigid placeholder (set SHAKE or RIGID in your LAMMPS input)";
    BuildSummary s;
    s.data_path = "out/data.lmp", s.forcefield_path = "out/forcefield.lmp", s.skipped = {"methane", "argon"};
    s.warnings = {"bond O-H has no Bonds" + rigid, "angle H-O-H has no Bends" + rigid};
    s.box = 24.8338, s.long_range_coulomb = true;
    s.n_atoms = 1500, s.n_bonds = 1000, s.n_angles = 500, s.n_atom_types = 2, s.n_bond_types = 1, s.n_angle_types = 1;
    EXPECT_EQ(to_text(s),
              "Wrote out/data.lmp\nWrote out/forcefield.lmp\nbox: 24.834 \u00c5 cube  |  atoms: 1500 (2 types)  "
              "bonds: 1000 (1 types)  angles: 500 (1 types)  dihedrals: 0 (0 types)\n"
              "skipped (count 0): methane, argon\nwarning: bond O-H has no Bonds" +
                  rigid + "\nwarning: angle H-O-H has no Bends" + rigid +
                  "\nwarning: Long-range Coulomb interaction solver in forcefield file might be adjusted to "
                  "user preference.\n");
}

}  // namespace
}  // namespace cellkit
