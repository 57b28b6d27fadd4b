#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "common/number_format.hpp"
#include "lammps/box_shape.hpp"
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

using Counts = std::vector<std::uint64_t>;

constexpr double nan = std::numeric_limits<double>::quiet_NaN();
constexpr double inf = std::numeric_limits<double>::infinity();

struct Water {
    Molecule m = molecule("water", {{"Ow", {0, 0, 0}}, {"Hw", {1, 0, 0}}, {"Hw", {-0.333313, 0.942816, 0}}});
    Molecule methane = molecule("methane", {{"CH4", {0, 0, 0}}});
    ForceField ff{.pseudo_atoms = {
                      {"Ow", params(15.9994, -0.8476)}, {"Hw", params(1.008, 0.4238)}, {"CH4", params(16.043, 0.0)}}};
};

// The box from mass and density and the files Packmol reads: the whole box, periodic.
TEST(PackmolInput, BoxScriptAndTemplates) {
    Water w;
    EXPECT_DOUBLE_EQ(total_mass(testing::active({{&w.m, 10}, {&w.methane, 3}}), w.ff), 180.154 + 3 * 16.043);
    const double edge = box_edge(180.154, 1000.0);  // 6.688, as the script below shows

    const PackRegion whole = whole_box_region({edge, edge, edge});
    EXPECT_EQ(
        packmol_script(2.0, {edge, edge, edge}, {{"species_0_water.pdb", 10, whole}, {"species_2.pdb", 4, whole}}),
        "# created by boxloom\ntolerance 2.00\nfiletype pdb\noutput simbox.pdb\n"
        "pbc 0.0000 0.0000 0.0000 6.6880 6.6880 6.6880\n\n"
        "structure species_0_water.pdb\n  number 10\n  inside box 0.0000 0.0000 0.0000 6.6880 6.6880 6.6880\n"
        "end structure\n\n"
        "structure species_2.pdb\n  number 4\n  inside box 0.0000 0.0000 0.0000 6.6880 6.6880 6.6880\n"
        "end structure\n");
    // A sub-box: its own slice and seed, and its neighbours' atoms fixed where they are.
    EXPECT_EQ(packmol_script(1.5, {20, 20, 20}, {{"species_0_water.pdb", 3, {{10, 0, 0}, {20, 20, 20}}}}, 7, true),
              "# created by boxloom\ntolerance 1.50\nfiletype pdb\noutput simbox.pdb\n"
              "pbc 0.0000 0.0000 0.0000 20.0000 20.0000 20.0000\nseed 7\navoid_overlap no\n\n"
              "structure species_0_water.pdb\n  number 3\n  inside box 10.0000 0.0000 0.0000 20.0000 20.0000 "
              "20.0000\nend structure\n\nstructure obstacles.pdb\n  number 1\n  fixed 0. 0. 0. 0. 0. 0.\n"
              "end structure\n");
    EXPECT_EQ(obstacles_pdb({{-0.5, 19.25, 10}, {1, 2, 3}}),
              "HETATM    1 X    obs     1      -0.500  19.250  10.000  1.00  0.00\n"
              "HETATM    2 X    obs     1       1.000   2.000   3.000  1.00  0.00\nEND\n");

    // Template files keep plain names only; their columns are cut and padded by characters.
    const std::tuple<std::size_t, std::string, std::string> files[] = {
        {0, "water", "species_0_water.pdb"},
        {3, "n-butane_2.1+", "species_3_n-butane_2.1+.pdb"},
        {4, "caf\xc3\xa9", "species_4.pdb"},
        {5, "", "species_5.pdb"}};
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

// Where each species goes: the edges from the mass, the density and the ratios; a slab centred between
// vacuum; layers one above the other, each as thick as its own mass at its own density makes it.
TEST(BoxShape, EdgesSlabsAndLayers) {
    Water w;
    const ActiveSpeciesList both = testing::active({{&w.m, 10}, {&w.methane, 3}});
    const double water = 180.154, methane = 3 * 16.043;  // g/mol
    const double cube = box_edge(water + methane, 1000.0);
    const ShapedBox plain = shape_box(both, {10, 3}, w.ff, {.density = 1000.0});
    EXPECT_EQ(plain.box.edges, (Vec3{cube, cube, cube}));  // exactly: a cube's files stay as they were
    EXPECT_TRUE(plain.bulk);
    EXPECT_EQ(plain.text, "");

    const ShapedBox tall = shape_box(both, {10, 3}, w.ff, {.density = 1000.0, .aspect = Vec3{1, 2, 4}});
    const double s = cube / 2.0;  // 1 x 2 x 4 = 8 cubes of half the edge
    EXPECT_NEAR(tall.box[0], s, 1e-12);
    EXPECT_NEAR(tall.box[1], 2 * s, 1e-12);
    EXPECT_NEAR(tall.box[2], 4 * s, 1e-12);

    const ShapedBox slab = shape_box(both, {10, 3}, w.ff, {.density = 1000.0, .vacuum = 30.0});
    EXPECT_FALSE(slab.bulk);
    EXPECT_NEAR(slab.box[2], cube + 30.0, 1e-12);
    EXPECT_EQ(slab.z_range[0], (std::array<double, 2>{15.0, 15.0 + cube}));
    EXPECT_EQ(slab.z_range[1], slab.z_range[0]);

    // Water at 1000 below methane at 500, methane's layer twice as thick per gram.
    const ShapedBox layers = shape_box(both, {10, 3}, w.ff, {.layers = {{1, 1000.0}, {1, 500.0}}});
    const double section = layers.box[0] * layers.box[1];
    EXPECT_NEAR(layers.z_range[0][1], box_edge(water, 1000.0) * std::pow(box_edge(water, 1000.0), 2) / section, 1e-9);
    EXPECT_NEAR(layers.z_range[1][1] - layers.z_range[1][0], std::pow(box_edge(methane, 500.0), 3) / section, 1e-9);
    EXPECT_EQ(layers.z_range[1][1], layers.box[2]);
    EXPECT_EQ(layers.z_range[1][0], layers.z_range[0][1]);

    // Edges given: the density follows. A species of count 0 keeps its place among the layers' species,
    // but a layer of nothing is refused.
    const ActiveSpeciesList methane_only = testing::active({{&w.methane, 3}});
    const ShapedBox given = shape_box(methane_only, {0, 3}, w.ff, {.edges = Vec3{10, 10, 20}});
    EXPECT_EQ(given.text, "density: 40.0 kg/m\u00b3, from the mass and the box");
    EXPECT_EQ(shape_box(methane_only, {0, 3}, w.ff, {.layers = {{2, 500.0}}}).box[2], box_edge(methane, 500.0));
    EXPECT_EQ(testing::message_of([&] { shape_box(methane_only, {0, 3}, w.ff, {.layers = {{1, 900.0}, {1, 500.0}}}); }),
              "layer 1: no molecules to pack (every count is 0 or every mass is 0)");
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
        EXPECT_EQ(fault_of([&] {
                      pack_system(dir_, active, shape_box(active, Counts(active.size(), 4), ff, {.density = density}),
                                  2.0);
                  }),
                  fault);
        EXPECT_TRUE(fs::is_empty(dir_));
    }
}

TEST_F(PackSystem, TemplatesAreNumberedByPositionAndAMissingPackmolIsNamed) {
    Water w;
    const Molecule spaced = molecule("my water", w.m.pseudo_atoms);
    ActiveSpeciesList active = testing::active({{&w.m, 2}, {&w.methane, 0}, {&spaced, 1}});
    const ShapedBox cube{.box = 20.0, .z_range = {3, {0.0, 20.0}}, .bulk = true, .text = {}};
    {
        const testing::ScopedEnv path("PATH", dir_);  // nothing called packmol in here
        EXPECT_EQ(fault_of([&] { pack_system(dir_, active, cube, 2.0); }),
                  "failed to launch packmol (is it installed and on PATH?): No such file or directory");
    }
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_)) names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"pack.inp", "species_0_water.pdb", "species_0.start", "species_2.pdb",
                                            "species_2.start"}));

    EXPECT_EQ(fault_of([&] { pack_system(dir_ / "gone", active, cube, 2.0); }),
              "writing {d}/gone/species_0_water.pdb: No such file or directory");
}

TEST(SubBoxes, SlicesShareTheirFacesAndRoundsNeverTouch) {
    const auto corners = [](const SubBox& box) { return std::pair(box.region.lo, box.region.hi); };
    const std::vector<SubBox> octants = plan_sub_boxes({8}, 20.0, {2, 2, 2});
    ASSERT_EQ(octants.size(), 8u);
    const std::tuple<std::size_t, Vec3, Vec3, std::size_t> cases[] = {{0, {0, 0, 0}, {10, 10, 10}, 0},
                                                                      {1, {10, 0, 0}, {20, 10, 10}, 1},
                                                                      {6, {0, 10, 10}, {10, 20, 20}, 6},
                                                                      {7, {10, 10, 10}, {20, 20, 20}, 7}};
    for (const auto& [box, lo, hi, round] : cases) {
        EXPECT_EQ(corners(octants[box]), std::pair(lo, hi)) << box;
        EXPECT_EQ(octants[box].round, round) << box;
    }
    // Cut along x alone: two rounds, the slabs of one round a slab apart, through the faces too.
    const std::vector<SubBox> slabs = plan_sub_boxes({12}, 24.0, {4, 1, 1});
    std::vector<std::size_t> rounds;
    for (const SubBox& slab : slabs) rounds.push_back(slab.round);
    EXPECT_EQ(rounds, (std::vector<std::size_t>{0, 1, 0, 1}));
    EXPECT_EQ(corners(slabs[3]), std::pair(Vec3{18, 0, 0}, Vec3{24, 24, 24}));
    // A box that is not a cube is sliced along each axis by its own edge, and its images lie one edge away.
    const std::vector<SubBox> long_box = plan_sub_boxes({8}, Vec3{10, 20, 40}, {1, 2, 4});
    EXPECT_EQ(corners(long_box[7]), std::pair(Vec3{0, 10, 30}, Vec3{10, 20, 40}));
    EXPECT_EQ(atoms_near({{5, 1, 39}, {9, 19, 1}}, long_box[0].region, Vec3{10, 20, 40}, 2.0),
              (std::vector<Vec3>{{5, 1, -1}, {9, -1, 1}}));
    EXPECT_EQ(round_count({4, 1, 1}), 2u);
    EXPECT_EQ(round_count({6, 4, 2}), 8u);
}

TEST(SubBoxes, CountsAreSplitExactlyWithRemaindersCarriedAcrossSpecies) {
    const std::pair<Counts, std::vector<Counts>> cases[] = {
        {{16}, {{2}, {2}, {2}, {2}, {2}, {2}, {2}, {2}}},
        {{10, 3}, {{2, 0}, {2, 0}, {1, 1}, {1, 1}, {1, 1}, {1, 0}, {1, 0}, {1, 0}}},
        {{7, 0, 9}, {{1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {0, 0, 2}}},
    };
    for (const auto& [counts, per_box] : cases) {
        std::vector<Counts> got;
        for (const SubBox& box : plan_sub_boxes(counts, 40.0, {2, 2, 2})) got.push_back(box.counts);
        EXPECT_EQ(got, per_box) << counts[0];
    }
}

// The atoms a sub-box must keep clear of: those within reach of its slice, by the nearest image.
TEST(SubBoxes, ObstaclesAreTheAtomsNearTheSliceByTheNearestImage) {
    const PackRegion slab{{15, 0, 0}, {20, 20, 20}};  // the last slab of a box of edge 20
    const std::vector<Vec3> atoms = {{13.5, 5, 5}, {12.5, 5, 5},      {0.5, 7, 7},
                                     {1.9, 7, 7},  {-0.2, 19.9, 0.1}, {10, 5, 5}};
    EXPECT_EQ(atoms_near(atoms, slab, 20.0, 2.0),
              (std::vector<Vec3>{{13.5, 5, 5}, {20.5, 7, 7}, {21.9, 7, 7}, {19.8, 19.9, 0.1}}));
    // A corner: near through x and z at once, out of reach by the two together.
    const PackRegion cell{{0, 0, 0}, {5, 5, 5}};
    EXPECT_EQ(atoms_near({{19.0, 2, 19.0}, {18.5, 2, 18.5}}, cell, 20.0, 2.0), (std::vector<Vec3>{{-1.0, 2, -1.0}}));
}

TEST(SubBoxes, TheGridIsTheFastestThatFitsAndOddCutsAreRefused) {
    EXPECT_EQ(testing::message_of([] { plan_sub_boxes({5, 2}, 20.0, {2, 2, 2}); }),
              "cannot cut the box into 2x2x2 sub-boxes: more than the 7 molecules");
    EXPECT_EQ(testing::message_of([] { plan_sub_boxes({100}, 20.0, {3, 3, 3}); }),
              "cannot cut the box into 3x3x3 sub-boxes: each axis takes 1 or an even number, so that the sub-boxes "
              "packed at once touch none of each other");
    // (molecules, edge, extent, jobs): water at 1000 kg/m³, tolerance 2.
    const std::tuple<double, double, double, std::size_t, Grid> cases[] = {
        {1'500, 35.6, 1.6, 2, {1, 1, 1}},   // no two sub-boxes of 1,000
        {10'000, 66.9, 1.6, 2, {4, 1, 1}},  // two rounds of slabs, two at once (1.7 s against 1.8 s)
        {20'000, 84.3, 1.6, 2, {4, 1, 1}},  // 3.4 s against 4.4 s
        {20'000, 84.3, 1.6, 1, {1, 1, 1}},   // one core: the walls cost more than smaller runs save
        {20'000, 84.3, 30.0, 2, {1, 1, 1}},  // two long molecules side by side would not fit a slab
        // Cuts on more axes once the sub-boxes stay thick (100,000 waters: 17.9 s, against 17.6 s for
        // 4 x 4 x 2 and 20.6 s for 8 x 1 x 1; 333,334: 62.3 s, 59.8 s for 6 x 4 x 4, 67.4 s for 8 x 8 x 1).
        {100'000, 144.1, 1.6, 2, {4, 4, 1}},
        {100'000, 144.1, 1.6, 8, {8, 4, 1}},
        {333'334, 215.4, 1.6, 2, {4, 4, 4}},
    };
    for (const auto& [molecules, edge, extent, jobs, grid] : cases) {
        EXPECT_EQ(choose_grid(molecules, edge, 2.0, extent, jobs), grid) << molecules << " " << extent << " " << jobs;
    }
    // The long axis of a box takes the cuts, whichever axis it is.
    EXPECT_EQ(choose_grid(100'000, Vec3{96, 96, 324}, 2.0, 1.6, 2), (Grid{1, 1, 12}));
    EXPECT_EQ(choose_grid(100'000, Vec3{96, 324, 96}, 2.0, 1.6, 2), (Grid{1, 12, 1}));
}

TEST(SubBoxes, TheLargestTemplateDiagonal) {
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
    const Raspa3Settings settings{.temperature = inf,
                                  .init_cycles = 3,
                                  .equil_cycles = 4,
                                  .prod_cycles = 5,
                                  .box = Vec3{20, 21, nan},
                                  .seed = 42};
    // A path that cannot be resolved stays as given, its stray byte replaced.
    EXPECT_EQ(raspa3_args_json({dir_ / "link.json", "gone\xff.json"}, {0, 18446744073709551615u}, ff, 1000.0, settings),
              R"({"box":[20.0,21.0,null],"counts":[0,18446744073709551615],"density":1000.0,"force_field_path":")" +
                  real + R"(","molecule_paths":[")" + real + "\",\"gone\xef\xbf\xbd.json\"]," +
                  R"("n_equil_cycles":4,"n_init_cycles":3,"n_prod_cycles":5,"seed":42,"temperature":null})");
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
