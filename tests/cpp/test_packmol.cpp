#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>

#include "packmol/box_size.hpp"
#include "packmol/pack_system.hpp"
#include "packmol/packed_pdb.hpp"
#include "packmol/packmol_input.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;
using testing::molecule;
using testing::params;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct Water {
    Molecule m = molecule("water", {{"Ow", {0, 0, 0}}, {"Hw", {1, 0, 0}}, {"Hw", {-0.333313, 0.942816, 0}}});
    Molecule methane = molecule("methane", {{"CH4", {0, 0, 0}}});
    ForceField ff = [] {
        ForceField f;
        f.pseudo_atoms["Ow"] = params(15.9994, -0.8476);
        f.pseudo_atoms["Hw"] = params(1.008, 0.4238);
        f.pseudo_atoms["CH4"] = params(16.043, 0.0);
        return f;
    }();
};

TEST(PackmolBox, EdgeFromMassAndDensityAndTheMarginKeptFromTheFaces) {
    Water w;
    const double mass = total_mass(testing::active({{&w.m, 10}, {&w.methane, 3}}), w.ff);
    EXPECT_DOUBLE_EQ(mass, 180.154 + 3 * 16.043);
    const double edge = box_edge(180.154, 1000.0);
    EXPECT_NEAR(edge, 6.688, 5e-4);
    EXPECT_NEAR(box_edge(180.154, 125.0), 2 * edge, 1e-12);  // an eighth of the density doubles the edge

    const struct {
        double tolerance, edge, margin;
    } cases[] = {
        {1.0, edge, 1.5}, {2.0, edge, edge / 4}, {nan, 100.0, 1.5}, {3.0, 100.0, 3.0}, {1.0, 4.0, 1.0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(box_margin(c.tolerance, c.edge), c.margin) << c.tolerance;
}

TEST(PackmolInput, ScriptNamesFilesRelativeToPackmolsDirectory) {
    const double edge = box_edge(180.154, 1000.0);
    EXPECT_EQ(packmol_script(2.0, edge, {{"species_0_water.pdb", 10}, {"species_2.pdb", 4}}),
              "# created by boxloom\n"
              "tolerance 2.00\n"
              "filetype pdb\n"
              "output simbox.pdb\n"
              "\n"
              "structure species_0_water.pdb\n"
              "  number 10\n"
              "  inside box 1.6720 1.6720 1.6720 5.0160 5.0160 5.0160\n"
              "end structure\n"
              "\n"
              "structure species_2.pdb\n"
              "  number 4\n"
              "  inside box 1.6720 1.6720 1.6720 5.0160 5.0160 5.0160\n"
              "end structure\n");
    // The script keeps the caller's tolerance even where the margin differs from it.
    EXPECT_NE(packmol_script(1.0, 20.0, {}).find("tolerance 1.00\n"), std::string::npos);
}

TEST(PackmolInput, TemplateFileNamesKeepPlainNamesOnly) {
    const struct {
        std::size_t position;
        std::string name, file;
    } cases[] = {
        {0, "water", "species_0_water.pdb"}, {3, "n-butane_2.1+", "species_3_n-butane_2.1+.pdb"},
        {1, "my water", "species_1.pdb"},    {2, "a#b", "species_2.pdb"},
        {4, "caf\xc3\xa9", "species_4.pdb"}, {5, "", "species_5.pdb"},
    };
    for (const auto& c : cases) EXPECT_EQ(template_file_name(c.position, c.name), c.file);
}

TEST(PackmolInput, TemplateColumnsCutAndPadByCharacters) {
    Water w;
    EXPECT_EQ(species_template_pdb(w.m),
              "COMPND    water\n"
              "HETATM    1 Ow   wat     1       0.000   0.000   0.000  1.00  0.00\n"
              "HETATM    2 Hw   wat     1       1.000   0.000   0.000  1.00  0.00\n"
              "HETATM    3 Hw   wat     1      -0.333   0.943   0.000  1.00  0.00\n"
              "END\n");
    const Molecule odd = molecule("\xc3\xb1u\nx", {{"CH3long", {12345.6789, -1.0005, 0.0625}}});
    EXPECT_EQ(species_template_pdb(odd),
              "COMPND    \xc3\xb1u_x\n"
              "HETATM    1 CH3l \xc3\xb1u_     1    12345.679  -1.000   0.062  1.00  0.00\n"
              "END\n");
    EXPECT_NE(species_template_pdb(molecule("ab", {{"C", {0, 0, 0}}})).find(" C    ab      1 "), std::string::npos);
}

// An ATOM/HETATM record with the three coordinate fields given as text.
std::string record(const std::string& x, const std::string& y, const std::string& z,
                   const std::string& kind = "ATOM  ") {
    auto field = [](const std::string& v) { return std::string(8 - std::min<std::size_t>(8, v.size()), ' ') + v; };
    return kind + "    1 O    WAT A   1    " + field(x) + field(y) + field(z) + "  1.00  0.00";
}

TEST(PackedPdb, ReadsAtomRecordsInOrderAndRefusesBrokenOnes) {
    const std::string ok = record("1.000", "-2.500", "+3.250");
    const std::string short_line = ok.substr(0, 53);
    const std::string split_char = ok.substr(0, 29) + "\xc3\xa9" + ok.substr(31);  // a character across column 30
    const struct {
        std::string text;
        std::vector<Vec3> coords;
        std::string fault;
    } cases[] = {
        {"REMARK packed\nCRYST1\n" + ok + "\nTER\n" + record("4", "5", "6", "HETATM") + "\r\nCONECT 1 2\nEND\n",
         {{1, -2.5, 3.25}, {4, 5, 6}},
         ""},
        {ok, {{1, -2.5, 3.25}}, ""},  // last line without a line break
        {record("-100.125", "1234.500", "-999.999"), {{-100.125, 1234.5, -999.999}}, ""},  // fields touching
        {"ATOMIC" + ok.substr(6) + "\nATOM\nHETAT\n", {}, ""},
        {short_line + "\n", {}, "malformed PDB line in out.pdb: " + short_line},
        {"HETATM\n", {}, "malformed PDB line in out.pdb: HETATM"},
        {split_char, {}, "malformed PDB line in out.pdb: " + split_char},
        {record("1.0x", "0", "0"), {}, "bad x coordinate in out.pdb: " + record("1.0x", "0", "0")},
        {record("0", "", "0"), {}, "bad y coordinate in out.pdb: " + record("0", "", "0")},
        {record("0", "0", "nan"), {}, "bad z coordinate in out.pdb: " + record("0", "0", "nan")},
        {record("-inf", "0", "0"), {}, "bad x coordinate in out.pdb: " + record("-inf", "0", "0")},
        {record("0", "1e999", "0"), {}, "bad y coordinate in out.pdb: " + record("0", "1e999", "0")},
    };
    for (const auto& c : cases) {
        try {
            EXPECT_EQ(parse_packed_pdb_text(c.text, "out.pdb"), c.coords) << c.text;
            EXPECT_EQ(c.fault, "") << c.text;
        } catch (const Error& e) {
            EXPECT_EQ(e.what(), c.fault);
        }
    }
}

class PackSystem : public testing::ScratchTest {};

TEST_F(PackSystem, InputFaultsStopBeforeAnythingIsWritten) {
    Water w;
    ForceField no_hydrogen = w.ff;
    no_hydrogen.pseudo_atoms.erase("Hw");
    ForceField weightless = w.ff;
    for (auto& [name, p] : weightless.pseudo_atoms) p.mass = 0.0;
    const ActiveSpeciesList water = testing::active({{&w.m, 4}});
    const struct {
        ActiveSpeciesList active;
        const ForceField* ff;
        double density;
        std::string fault;
    } cases[] = {
        {{}, &w.ff, 1000.0, "no species with count > 0 to pack"},
        {water, &w.ff, 0.0, "density must be positive"},
        {water, &w.ff, -1.0, "density must be positive"},
        {water, &w.ff, nan, "density must be positive"},
        {water, &w.ff, inf, "density must be positive"},
        {water, &no_hydrogen, 1000.0, "molecule 'water' uses pseudo-atom type 'Hw' not present in the force field"},
        {water, &weightless, 1000.0, "total system mass is zero; nothing to pack"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(fault_of([&] { pack_system(dir_, c.active, *c.ff, c.density, 2.0); }), c.fault);
        EXPECT_TRUE(fs::is_empty(dir_));
    }
}

TEST_F(PackSystem, TemplatesAreNumberedByPositionAndAMissingPackmolIsNamed) {
    Water w;
    const Molecule spaced = molecule("my water", w.m.pseudo_atoms);
    ActiveSpeciesList active = testing::active({{&w.m, 2}, {&w.methane, 0}, {&spaced, 1}});
    const char* saved = std::getenv("PATH");
    const std::string restore = saved ? saved : "";
    ::setenv("PATH", dir_.c_str(), 1);  // nothing called packmol in here
    const std::string fault = fault_of([&] { pack_system(dir_, active, w.ff, 1000.0, 2.0); });
    ::setenv("PATH", restore.c_str(), 1);
    EXPECT_EQ(fault, "failed to launch packmol (is it installed and on PATH?): No such file or directory");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"pack.inp", "species_0_water.pdb", "species_2.pdb"}));

    EXPECT_EQ(fault_of([&] { pack_system(dir_ / "gone", active, w.ff, 1000.0, 2.0); }),
              "writing {d}/gone/species_0_water.pdb: No such file or directory");
}

}  // namespace
}  // namespace cellkit
