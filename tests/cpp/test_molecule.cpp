#include <gtest/gtest.h>

#include <filesystem>

#include "common/number_format.hpp"
#include "ff/molecule.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;

class MoleculeLoad : public testing::ScratchTest {
protected:
    fs::path write(const std::string& text, const std::string& file_name = "water.json") {
        return ScratchTest::write(text, file_name);
    }
    std::string fault(const std::string& text) { return load_fault(text, "water.json", Molecule::load); }
};

const std::string kTwoAtoms = R"("pseudoAtoms": [["O", [0, 0, 0]], ["H", [1, 0, 0]]])";
const std::string kOneAtom = R"({"pseudoAtoms": [["C", [0, 0, 0]]])";

TEST_F(MoleculeLoad, ObjectFormKeepsEntriesAsWritten) {
    const Molecule m = Molecule::load(write(R"({
        "Type": "flexible", "comment": [1, {"x": null}],
        "pseudoAtoms": [["O", [0, 0, 0.5]], ["H", [0.9572, 0, -1e-3]], ["H", [-0.24, 0.927, 0]]],
        "Connectivity": [[0, 1], [2, 0]],
        "Bonds": [[["O", "H"], "HARMONIC", [1000, 0.9572]]],
        "Bends": [[["H", "O", "H"], "HARMONIC", []]],
        "Torsions": [[["A", "B", "C", "D"], "TRAPPE", [0, 1.5, -2, 3]]]
    })"));
    EXPECT_EQ(m.name, "water");
    EXPECT_FALSE(m.rigid);
    ASSERT_EQ(m.pseudo_atoms.size(), 3u);
    EXPECT_EQ(m.pseudo_atoms[1].type, "H");
    EXPECT_EQ(m.pseudo_atoms[1].position, (Vec3{0.9572, 0, -1e-3}));
    EXPECT_EQ(m.connectivity, (std::vector<AtomPair>{{0, 1}, {2, 0}}));
    ASSERT_EQ(m.bond_entries.size(), 1u);
    EXPECT_EQ(m.bond_entries[0].names, (std::array<std::string, 2>{"O", "H"}));
    EXPECT_EQ(m.bond_entries[0].potential, "HARMONIC");
    EXPECT_EQ(m.bond_entries[0].parameters, (std::vector<double>{1000, 0.9572}));
    EXPECT_TRUE(m.bend_entries.at(0).parameters.empty());
    EXPECT_EQ(m.torsion_entries.at(0).names[3], "D");
}

TEST_F(MoleculeLoad, ArrayFormWithTrailingValuesLeftOut) {
    const Molecule single = Molecule::load(write(R"([null, [["CH4", [0, 0, 0]]]])"));
    EXPECT_EQ(single.pseudo_atoms.size(), 1u);

    const Molecule pair = Molecule::load(write(R"(["Rigid", [["O", [0, 0, 0]], ["H", [1, 0, 0]]], [[0, 1]],
        [[["O", "H"], "HARMONIC", [1, 2]]]])"));
    EXPECT_TRUE(pair.rigid);
    EXPECT_EQ(pair.connectivity, (std::vector<AtomPair>{{0, 1}}));
    EXPECT_EQ(pair.bond_entries.size(), 1u);
}

TEST_F(MoleculeLoad, RigidOnlyForTheWordRigid) {
    const std::pair<std::string, bool> cases[] = {{R"("Type": "rigid",)", true},   {R"("Type": "RIGID",)", true},
                                                  {R"("Type": "rigid ",)", false}, {R"("Type": "flexible",)", false},
                                                  {R"("Type": null,)", false},     {"", false}};
    for (const auto& [type, rigid] : cases) {
        EXPECT_EQ(Molecule::load(write("{" + type + kOneAtom.substr(1) + "}")).rigid, rigid) << type;
    }
}

TEST_F(MoleculeLoad, NameIsTheFileStem) {
    fs::create_directories(dir_ / "dir");
    const std::string text = R"({"pseudoAtoms": [["C", [0, 0, 0]]]})";
    EXPECT_EQ(Molecule::load(write(text, "dir/ethane.united.json")).name, "ethane.united");
    EXPECT_EQ(Molecule::load(write(text, "ethane")).name, "ethane");
    // The stem ends every Atoms line of data.lmp, so it passes the check that type names pass.
    EXPECT_EQ(load_fault(text, "wa\nter.json", Molecule::load),
              "file stem \"wa\\nter\" in {p} contains a control character, which breaks the line it is written on in "
              "data.lmp and forcefield.lmp; remove the control character");
}

TEST_F(MoleculeLoad, Faults) {
    const std::pair<std::string, std::string> cases[] = {
        {R"({"Connectivity": []})", "parsing {p}: missing field `pseudoAtoms` at line 1 column 20"},
        {R"({"pseudoAtoms": []})", "{p} defines no pseudoAtoms"},
        {"{" + kTwoAtoms + "}",
         "{p} has 2 pseudoAtoms but no Connectivity; multi-atom molecules must declare which atoms are bonded "
         "(auto-bonding by index order is not used because it is wrong for branched molecules, e.g. water)"},
        {"{" + kTwoAtoms + R"(, "Connectivity": [[0, 1], [2, 1], [5, 0]]})",
         "{p} Connectivity references atom index out of range (2, 1) for 2 pseudoAtoms"},
        {kOneAtom + R"(, "Connectivity": [[0, 1]]})",
         "{p} Connectivity references atom index out of range (0, 1) for 1 pseudoAtoms"},
        {R"({"Type": "rigid", )" + kTwoAtoms + R"(, "Connectivity": [[0, 1], [1, 1]]})",
         "{p} Connectivity bonds atom 1 to itself (1, 1); remove that pair"},
        {R"({"Type": "rigid", "pseudoAtoms": [["O", [0, 0, 0]], ["H", [1, 0, 0]], ["H", [0, 1, 0]]],
            "Connectivity": [[1, 0], [0, 2], [0, 1]]})",
         "{p} Connectivity lists the bond (0, 1) a second time (first as (1, 0)); list each bond once"},
        {"{" + kTwoAtoms + ",\n \"Connectivity\": [[0, 1.5]]}",
         "parsing {p}: invalid type: floating point `1.5`, expected a non-negative integer at line 2 column 25"},
        {"{" + kTwoAtoms + R"(, "Connectivity": [[0, 1, 1]]})",
         "parsing {p}: invalid length 3, expected a Connectivity pair of 2 atom indices at line 1 column 80"},
        {R"({"pseudoAtoms": [["C", [0, 0]]]})",
         "parsing {p}: invalid length 2, expected an array of 3 numbers at line 1 column 29"},
        {R"({"pseudoAtoms": [["C"]]})",
         "parsing {p}: invalid length 1, expected a pseudoAtoms entry of 2 elements (type name, position) at line 1 "
         "column 22"},
        {R"({"pseudoAtoms": [[null, [0, 0, 0]]]})",
         "parsing {p}: invalid type: null, expected a string at line 1 column 22"},
        {kOneAtom + R"(, "Bonds": [[["C", "C", "C"], "HARMONIC", []]]})",
         "parsing {p}: invalid length 3, expected an array of 2 type names at line 1 column 62"},
        {kOneAtom + R"(, "Bends": [[["C", "C"], "HARMONIC", []]]})",
         "parsing {p}: invalid length 2, expected an array of 3 type names at line 1 column 57"},
        {kOneAtom + R"(, "Torsions": [[["C", "C", "C", "C"], "TRAPPE"]]})",
         "parsing {p}: invalid length 2, expected a Torsions entry of 3 elements (names, potential, parameters) at "
         "line 1 column 81"},
        {kOneAtom + R"(, "Type": 5})",
         "parsing {p}: invalid type: integer `5`, expected a string or null at line 1 column 45"},
        {kOneAtom + R"(, "Bonds": [], "Bonds": []})", "parsing {p}: duplicate field `Bonds` at line 1 column 56"},
        {R"([null])",
         "parsing {p}: invalid length 1, expected a molecule object with at least 2 elements at line 1 "
         "column 6"},
        {R"([null, [], [], [], [], [], {}])",
         "parsing {p}: invalid length 7, expected a molecule object with at most 6 elements at line 1 column 30"},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(fault(text), message) << text;
}

// A molecule file of n carbon atoms: atom 0 bonded to each other one (a star), or every pair bonded.
std::string bonded_atoms(std::size_t n, bool every_pair) {
    std::string atoms, pairs;
    for (std::size_t b = 0; b < n; ++b) {
        atoms += std::string(b ? ", " : "") + R"(["C", [0, 0, 0]])";
        for (std::size_t a = 0; a < (every_pair ? b : std::min<std::size_t>(b, 1)); ++a) {
            pairs += fmt::cat(pairs.empty() ? "[" : ", [", b, ", ", a, "]");
        }
    }
    return R"({"pseudoAtoms": [)" + atoms + R"(], "Connectivity": [)" + pairs + "]}";
}

// The bound is checked on counts, before anything is derived; the counts are those the
// derivation then lists (three-membered rings included).
TEST_F(MoleculeLoad, DerivedCountsBeyondTheBoundAreRefusedEarly) {
    const std::string beyond = ", more than the 1000000 a molecule may have";
    EXPECT_EQ(fault(bonded_atoms(1416, false)), "{p} Connectivity implies 1000405 angles" + beyond +
                                                    " (atom 0 alone is bonded to 1415 atoms); check the Connectivity");
    EXPECT_EQ(fault(bonded_atoms(45, true)),
              "{p} Connectivity implies 1787940 dihedrals" + beyond + "; check the Connectivity");
    // Every bond of K39 lies in 37 triangles: 741 x 37 x 37 dihedrals before they are taken out, 741 x 37 x 36 after.
    const Molecule k39 = Molecule::load(write(bonded_atoms(39, true)));
    EXPECT_EQ(derived_angles(k39).size(), 27'417u);
    EXPECT_EQ(derived_dihedrals(k39).size(), 987'012u);
}

TEST(MoleculeDerivation, AnglesAndDihedralsInBondOrder) {
    const std::tuple<std::vector<AtomPair>, std::vector<Angle>, std::vector<Dihedral>> cases[] = {
        {{{0, 1}, {1, 2}, {2, 3}}, {{0, 1, 2}, {1, 2, 3}}, {{0, 1, 2, 3}}},  // chain
        {{{0, 1}, {2, 1}, {2, 3}}, {{0, 1, 2}, {1, 2, 3}}, {{3, 2, 1, 0}}},  // middle bond reversed
        {{{0, 1}, {0, 2}, {0, 3}}, {{1, 0, 2}, {1, 0, 3}, {2, 0, 3}}, {}},   // star
        {{{0, 1}, {1, 2}, {2, 0}}, {{1, 0, 2}, {0, 1, 2}, {1, 2, 0}}, {}},   // three-membered ring
    };
    for (const auto& [connectivity, angles, dihedrals] : cases) {
        const Molecule m{.pseudo_atoms = std::vector<PseudoAtom>(4), .connectivity = connectivity};
        EXPECT_EQ(derived_angles(m), angles);
        EXPECT_EQ(derived_dihedrals(m), dihedrals);
    }
}

}  // namespace
}  // namespace cellkit
