#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "common/number_format.hpp"
#include "packmol/box_size.hpp"
#include "packmol/pack_system.hpp"
#include "packmol/packed_pdb.hpp"
#include "packmol/packmol_input.hpp"
#include "packmol/sub_boxes.hpp"
#include "raspa/raspa3_files.hpp"
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
    ForceField ff{.pseudo_atoms = {
                      {"Ow", params(15.9994, -0.8476)}, {"Hw", params(1.008, 0.4238)}, {"CH4", params(16.043, 0.0)}}};
};

// The box from mass and density, the margin kept from its faces, and the files Packmol reads.
TEST(PackmolInput, BoxScriptAndTemplates) {
    Water w;
    EXPECT_DOUBLE_EQ(total_mass(testing::active({{&w.m, 10}, {&w.methane, 3}}), w.ff), 180.154 + 3 * 16.043);
    const double edge = box_edge(180.154, 1000.0);  // 6.688, as the script below shows

    const std::tuple<double, double, double> cases[] = {
        {1.0, edge, 1.5}, {2.0, edge, edge / 4}, {nan, 100.0, 1.5}, {3.0, 100.0, 3.0}, {1.0, 4.0, 1.0}};
    for (const auto& [tolerance, e, margin] : cases) EXPECT_DOUBLE_EQ(box_margin(tolerance, e), margin) << tolerance;

    EXPECT_EQ(packmol_script(2.0, edge, {{"species_0_water.pdb", 10}, {"species_2.pdb", 4}}),
              "# created by boxloom\ntolerance 2.00\nfiletype pdb\noutput simbox.pdb\n\n"
              "structure species_0_water.pdb\n  number 10\n  inside box 1.6720 1.6720 1.6720 5.0160 5.0160 5.0160\n"
              "end structure\n\n"
              "structure species_2.pdb\n  number 4\n  inside box 1.6720 1.6720 1.6720 5.0160 5.0160 5.0160\n"
              "end structure\n");

    // Template files keep plain names only; their columns are cut and padded by characters.
    const std::tuple<std::size_t, std::string, std::string> files[] = {
        {0, "water", "species_0_water.pdb"}, {3, "n-butane_2.1+", "species_3_n-butane_2.1+.pdb"},
        {4, "caf\xc3\xa9", "species_4.pdb"}, {5, "", "species_5.pdb"}};
    for (const auto& [position, name, file] : files) EXPECT_EQ(template_file_name(position, name), file);
    EXPECT_EQ(species_template_pdb(w.m),
              "COMPND    water\n"
              "HETATM    1 Ow   wat     1       0.000   0.000   0.000  1.00  0.00\n"
              "HETATM    2 Hw   wat     1       1.000   0.000   0.000  1.00  0.00\n"
              "HETATM    3 Hw   wat     1      -0.333   0.943   0.000  1.00  0.00\n"
              "END\n");
    EXPECT_EQ(
        species_template_pdb(molecule("\xc3\xb1u\nx", {{"CH3long", {12345.6789, -1.0005, 0.0625}}})),
        "COMPND    \xc3\xb1u_x\nHETATM    1 CH3l \xc3\xb1u_     1    12345.679  -1.000   0.062  1.00  0.00\nEND\n");
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
    using Case = std::tuple<std::string, std::vector<Vec3>, std::string>;
    const auto bad = [](char axis, const std::string& line) {
        return Case{line, {}, fmt::cat("bad ", axis, " coordinate in out.pdb: ", line)};
    };
    const Case cases[] = {
        {"REMARK packed\nCRYST1\n" + ok + "\nTER\n" + record("4", "5", "6", "HETATM") + "\r\nCONECT 1 2\nEND\n",
         {{1, -2.5, 3.25}, {4, 5, 6}},
         ""},
        {record("-100.125", "1234.500", "-999.999"), {{-100.125, 1234.5, -999.999}}, ""},  // touching; no line break
        {"ATOMIC" + ok.substr(6) + "\nATOM\nHETAT\n", {}, ""},
        {short_line + "\n", {}, "malformed PDB line in out.pdb: " + short_line},
        {split_char, {}, "malformed PDB line in out.pdb: " + split_char},
        bad('x', record("1.0x", "0", "0")),
        bad('y', record("0", "", "0")),
        bad('z', record("0", "0", "nan")),
        bad('y', record("0", "1e999", "0"))};
    for (const auto& [text, expected, fault] : cases) {
        std::vector<Vec3> coords;
        EXPECT_EQ(testing::message_of([&] { coords = parse_packed_pdb_text(text, "out.pdb"); }), fault);
        EXPECT_EQ(coords, expected) << text;
    }
}

class PackSystem : public testing::ScratchTest {};

TEST_F(PackSystem, InputFaultsStopBeforeAnythingIsWritten) {
    Water w;
    const ActiveSpeciesList water = testing::active({{&w.m, 4}});
    const ForceField no_hydrogen{.pseudo_atoms = {{"Ow", params(16, 0)}}};
    const ForceField weightless{.pseudo_atoms = {{"Ow", params(0, 0)}, {"Hw", params(0, 0)}}};
    const std::tuple<ActiveSpeciesList, ForceField, double, std::string> cases[] = {
        {{}, w.ff, 1000.0, "no species with count > 0 to pack"},
        {water, w.ff, 0.0, "density must be positive"},
        {water, w.ff, nan, "density must be positive"},
        {water, w.ff, inf, "density must be positive"},
        {water, no_hydrogen, 1000.0, "molecule 'water' uses pseudo-atom type 'Hw' not present in the force field"},
        {water, weightless, 1000.0, "total system mass is zero; nothing to pack"},
    };
    for (const auto& [active, ff, density, fault] : cases) {
        EXPECT_EQ(fault_of([&] { pack_system(dir_, active, ff, density, 2.0); }), fault);
        EXPECT_TRUE(fs::is_empty(dir_));
    }
}

TEST_F(PackSystem, TemplatesAreNumberedByPositionAndAMissingPackmolIsNamed) {
    Water w;
    const Molecule spaced = molecule("my water", w.m.pseudo_atoms);
    ActiveSpeciesList active = testing::active({{&w.m, 2}, {&w.methane, 0}, {&spaced, 1}});
    {
        const testing::ScopedEnv path("PATH", dir_);  // nothing called packmol in here
        EXPECT_EQ(fault_of([&] { pack_system(dir_, active, w.ff, 1000.0, 2.0); }),
                  "failed to launch packmol (is it installed and on PATH?): No such file or directory");
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"pack.inp", "species_0_water.pdb", "species_2.pdb"}));

    EXPECT_EQ(fault_of([&] { pack_system(dir_ / "gone", active, w.ff, 1000.0, 2.0); }),
              "writing {d}/gone/species_0_water.pdb: No such file or directory");
}

using Counts = std::vector<std::uint64_t>;

TEST(SubBoxes, FacesKeepTheMarginOutsideAndHalfTheToleranceInside) {
    // Edge 20, tolerance 2: margin 2, gap 1 on each side of the cut at 10; x runs fastest.
    const std::vector<SubBox> boxes = plan_sub_boxes({8}, 20.0, 2.0, 2);
    ASSERT_EQ(boxes.size(), 8u);
    const auto corners = [](const SubBox& box) { return std::pair(box.region.lo, box.region.hi); };
    const std::tuple<std::size_t, Vec3, Vec3> cases[] = {{0, {2, 2, 2}, {9, 9, 9}},
                                                         {1, {11, 2, 2}, {18, 9, 9}},
                                                         {6, {2, 11, 11}, {9, 18, 18}},
                                                         {7, {11, 11, 11}, {18, 18, 18}}};
    for (const auto& [box, lo, hi] : cases) EXPECT_EQ(corners(boxes[box]), std::pair(lo, hi)) << box;
    // Three cuts a side: the middle slice keeps the gap on both of its faces.
    EXPECT_EQ(corners(plan_sub_boxes({27}, 30.0, 2.0, 3)[13]), std::pair(Vec3{11, 11, 11}, Vec3{19, 19, 19}));
    // One sub-box is the single run's box.
    const PackRegion whole = whole_box_region(2.0, 20.0);
    EXPECT_EQ(corners(plan_sub_boxes({3}, 20.0, 2.0, 1)[0]), std::pair(whole.lo, whole.hi));
}

TEST(SubBoxes, CountsAreSplitExactlyWithRemaindersCarriedAcrossSpecies) {
    const std::pair<Counts, std::vector<Counts>> cases[] = {
        {{16}, {{2}, {2}, {2}, {2}, {2}, {2}, {2}, {2}}},
        {{10, 3}, {{2, 0}, {2, 0}, {1, 1}, {1, 1}, {1, 1}, {1, 0}, {1, 0}, {1, 0}}},
        {{7, 0, 9}, {{1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {0, 0, 2}}},
    };
    for (const auto& [counts, per_box] : cases) {
        std::vector<Counts> got;
        for (const SubBox& box : plan_sub_boxes(counts, 40.0, 2.0, 2)) got.push_back(box.counts);
        EXPECT_EQ(got, per_box) << counts[0];
    }
}

TEST(SubBoxes, RefusedCutsTheNumberChosenFromTheCountAndTheLargestTemplate) {
    EXPECT_EQ(testing::message_of([] { plan_sub_boxes({5, 2}, 20.0, 2.0, 2); }),
              "cannot cut the box into 2x2x2 sub-boxes: more than the 7 molecules");
    EXPECT_EQ(
        testing::message_of([] { plan_sub_boxes({1000}, 10.0, 2.0, 4); }),
        "cannot cut the box of edge 10.000 \u00c5 into 4x4x4 sub-boxes: no room inside them at tolerance 2.00 \u00c5");

    const double n = molecules_per_sub_box;
    const std::tuple<double, double, std::size_t> cases[] = {
        {8 * n - 1, 3, 1}, {8 * n, 3, 2},   {27 * n - 1, 3, 2},
        {27 * n, 3, 3},    {27 * n, 80, 2},  // three would leave room for less than two molecules
        {27 * n, 200, 1}};
    for (const auto& [molecules, extent, per_axis] : cases) {
        EXPECT_EQ(sub_boxes_per_axis(molecules, 400, 2.0, extent), per_axis) << molecules << " " << extent;
    }
    const Molecule a = molecule("a", {{"C", {0, 0, 0}}, {"C", {3, 4, 0}}});
    const Molecule b = molecule("b", {{"C", {1, 1, 1}}, {"C", {0, 2, 3}}, {"C", {2, 0, 1}}});
    EXPECT_DOUBLE_EQ(largest_extent(testing::active({{&a, 1}, {&b, 1}})), 5.0);  // the largest diagonal
    EXPECT_DOUBLE_EQ(largest_extent(testing::active({{&b, 1}})), std::sqrt(12.0));
}

TEST(SubBoxes, PiecesGoBackSpeciesBySpeciesThenSubBoxBySubBox) {
    // Species 0 has two atoms, species 1 one; the x of each atom says where it belongs.
    const std::vector<SubBox> boxes = {{.counts = {1, 1}}, {.counts = {2, 0}}};
    const std::vector<std::vector<Vec3>> packed = {{{0, 0, 0}, {1, 0, 0}, {6, 0, 0}},
                                                   {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}}};
    std::vector<double> xs;
    for (const Vec3& p : canonical_order(boxes, packed, {2, 1})) xs.push_back(p[0]);
    EXPECT_EQ(xs, (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
}

TEST_F(PackSystem, Raspa3ArgsAreCompactSortedWithLinksResolvedAndNonFiniteAsNull) {
    const fs::path ff = write("{}", "ff.json");
    fs::create_symlink(ff, dir_ / "link.json");
    const std::string real = fs::canonical(ff).string();
    const Raspa3Settings settings{.temperature = inf, .init_cycles = 3, .equil_cycles = 4, .prod_cycles = 5};
    // A path that cannot be resolved stays as given, its stray byte replaced.
    EXPECT_EQ(raspa3_args_json({dir_ / "link.json", "gone\xff.json"}, {0, 18446744073709551615u}, ff, 1000.0, settings),
              R"({"counts":[0,18446744073709551615],"density":1000.0,"force_field_path":")" + real +
                  R"(","molecule_paths":[")" + real + "\",\"gone\xef\xbf\xbd.json\"]," +
                  R"("n_equil_cycles":4,"n_init_cycles":3,"n_prod_cycles":5,"temperature":null})");
}

// Deep nests are skipped or refused without recursion.
TEST(Raspa3Result, FaultsComeInTheirOrder) {
    const std::string open(1'000'000, '['), nest = open + std::string(1'000'000, ']');
    const std::pair<std::string, std::string> cases[] = {
        {"[1]", "raspa result missing 'box_len'"},
        {R"({"box_len": 1, "box_len": "1", "coords": []})", "raspa result missing 'box_len'"},  // the last one counts
        {R"({"coords": [5]})", "raspa result missing 'box_len'"},
        {R"({"box_len": 1, "coords": [[0, 0, 0]], "coords": {}})", "raspa result missing 'coords'"},
        {R"({"box_len": 1, "coords": [[1, null]]})", "coords[0] has 2 elements, expected 3"},
        {R"({"box_len": 1, "coords": [[1, 2, 3], [1, 2, 3, 4], 5]})", "coords[1] has 4 elements, expected 3"},
        {R"({"box_len": 1, "coords": [[1, 2, 3], [true, "2", 3]]})", "coords[1][0] is not a number"},
        {R"({"box_len": 1, "coords": [5], "x": })", "parsing raspa result JSON: invalid value at line 1 column 36"},
        {R"({"note": )" + nest + R"(, "box_len": 1, "coords": []})", ""},
        {R"({"box_len": 1, "coords": )" + nest + "}", "coords[0] has 1 elements, expected 3"},
        {R"({"box_len": 1, "coords": [)" + open,
         "parsing raspa result JSON: EOF while parsing a value at line 1 column 1000026"},
    };
    for (const auto& [text, fault] : cases) {
        EXPECT_EQ(testing::message_of([&] { parse_raspa3_result(text); }), fault) << text.substr(0, 60);
    }
}

}  // namespace
}  // namespace cellkit
