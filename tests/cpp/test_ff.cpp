#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <map>

#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "ff/force_field.hpp"
#include "ff/molecule.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

// A million nested arrays: a reader that recursed would overflow its stack on them.
const std::string kNest = std::string(1'000'000, '[') + std::string(1'000'000, ']');
const std::string kControl =
    "contains a control character, which breaks the line it is written on in data.lmp and forcefield.lmp; "
    "remove the control character";

const std::string kRule = R"({"MixingRule": "Lorentz-Berthelot", )";

class Load : public testing::ScratchTest {
protected:
    static std::string with_atoms(const std::string& rest) {
        return kRule +
               R"("PseudoAtoms": [{"name": "A", "mass": 1, "charge": 0}, {"name": "B", "mass": 2, "charge": 0}], )" +
               rest + "}";
    }
    static std::string self(const std::string& e) { return with_atoms(R"("SelfInteractions": [)" + e + "]"); }
    static std::string binary(const std::string& e) { return with_atoms(R"("BinaryInteractions": [)" + e + "]"); }
    // Atoms B and Q, with Q's name and source as given.
    static std::string atom(const std::string& name_json, const std::string& source_json = "null",
                            const std::string& rest = "") {
        return kRule + R"("PseudoAtoms": [{"name": "B", "mass": 1, "charge": 0}, {"name": )" + name_json +
               R"(, "mass": 1, "charge": 0, "source": )" + source_json + "}]" + rest + "}";
    }
    std::string ff_fault(const std::string& text) { return load_fault(text, "force_field.json", ForceField::load); }
    ForceField load_ff(const std::string& text) { return ForceField::load(write(text, "force_field.json")); }
};

// Every atom and pair a load gives, a line each in name order.
std::string summary(const ForceField& ff) {
    std::string out;
    for (const auto& [name, p] : std::map(ff.pseudo_atoms.begin(), ff.pseudo_atoms.end())) {
        out +=
            fmt::cat(name, ' ', p.mass, ' ', p.charge, ' ', p.epsilon, ' ', p.sigma, fmt::list_form(p.sources), '\n');
    }
    for (const auto& [key, p] : std::map(ff.binary_pairs.begin(), ff.binary_pairs.end())) {
        out += fmt::cat(key.first, "-", key.second, " ", p.epsilon, " ", p.sigma, " ", p.source.value_or("-"), "\n");
    }
    return out;
}

TEST_F(Load, ForceFieldObjectAndArrayForms) {
    EXPECT_EQ(summary(load_ff(R"({"comment": {"nested": [1, null]}, "CutOffVDW": 12, "MixingRule": "Lorentz-Berthelot",
        "PseudoAtoms": [{"name": "O", "mass": 15.9994, "charge": -0.8476, "source": "paper"}, {"name": "H", "mass": 1,
        "charge": 0.4238, "source": "other"}, {"name": "N", "mass": 14.007, "charge": 0, "source": null}],
        "SelfInteractions": [{"name": "O", "type": "Lennard-JONES", "parameters": [78.2, 3.166], "source": "paper"},
        {"name": "H", "parameters": [0, 0], "source": "self"}, {"name": "ghost", "type": "buckingham",
        "parameters": []}], "BinaryInteractions": [{"names": ["O", "H"], "parameters": [10, 2.5], "source": "pair"},
        {"names": ["N", "N"], "type": "lennard-jones", "parameters": [1, 2], "source": null}]})")),
              "H 1 0.4238 0 0[\"self\", \"other\"]\nN 14.007 0 0 0[]\nO 15.9994 -0.8476 78.2 3.166[\"paper\"]\n"
              "H-O 10 2.5 pair\nN-N 1 2 -\n");
    EXPECT_EQ(summary(load_ff(R"(["Lorentz-Berthelot", 12.5, [["O", 16, -0.8, "s"], ["H", 1, 0.4]],
        [["O", "lennard-jones", [78, 3.1], null]], [[["H", "O"], "LENNARD-JONES", [5, 2]]]])")),
              "H 1 0.4 0 0[]\nO 16 -0.8 78 3.1[\"s\"]\nH-O 5 2 -\n");
}

// Reading faults, then validation faults in the order of the checks, then texts LAMMPS would read
// as more than text (names must keep their line, citations must not open a multi-line string).
TEST_F(Load, ForceFieldFaults) {
    const std::string twice_a = R"({"name": "A", "mass": 1, "charge": 0}, {"name": "A", "mass": 1, "charge": 0})";
    const std::string xx = R"("SelfInteractions": [{"name": "x", "parameters": []}, {"name": "x", "parameters": []}])";
    const std::string p = "parsing {p}: ";
    const std::string triple =
        "contains \"\"\", which LAMMPS reads as the start of a multi-line string that swallows the lines after "
        "it; remove the triple quote";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"MixingRule": "Lorentz-Berthelot"})", p + "missing field `PseudoAtoms` at line 1 column 35"},
        {R"(["Lorentz-Berthelot", 12])",
         p + "invalid length 2, expected a force-field object with at least 3 elements at line 1 column 25"},
        {with_atoms(R"("CutOffVDW": "12")"),
         p + "invalid value: string \"12\", expected a number or \"auto\" at line 1 column 148"},
        {self(R"({"name": "A", "type": null})"), p + "invalid type: null, expected a string at line 1 column 178"},
        {"{\"MixingRule\": \"\xff\"}", "reading {p}: stream did not contain valid UTF-8"},
        {R"({"MixingRule": "lorentz-berthelot", "PseudoAtoms": [], )" + xx + "}",
         "unsupported MixingRule 'lorentz-berthelot' in {p} (only \"Lorentz-Berthelot\" is supported)"},
        {kRule + R"("PseudoAtoms": [)" + twice_a + "], " + xx + "}", "duplicate SelfInteractions entry for 'x' in {p}"},
        {self(R"({"name": "B", "type": "lennard jones", "parameters": [1]})"),
         "unsupported SelfInteractions type 'lennard jones' for 'B' (only lennard-jones is supported)"},
        {self(R"({"name": "A", "parameters": [12, 0.35, 1e-7]})"),
         "SelfInteractions for 'A' must have [epsilon_K, sigma_Ang], got [12.0, 0.35, 1e-7]"},
        {kRule + R"("PseudoAtoms": [)" + twice_a + "]}", "duplicate PseudoAtoms entry for 'A' in {p}"},
        {binary(R"({"names": ["A", "B", "C"], "type": "x", "parameters": []})"),
         "BinaryInteractions entry in {p} must have exactly two \"names\", got [\"A\", \"B\", \"C\"]"},
        {binary(R"({"names": ["A", "Z"], "type": "mie", "parameters": []})"),
         "unsupported BinaryInteractions type 'mie' for (A, Z) (only lennard-jones is supported)"},
        {binary(R"({"names": ["Z", "A"], "parameters": [1]})"),
         "BinaryInteractions for (Z, A) must have [epsilon_K, sigma_Ang], got [1.0]"},
        {binary(R"({"names": ["Y", "Z"], "parameters": [1, 2]})"),
         "BinaryInteractions references unknown pseudo-atom 'Y' in {p}"},
        {binary(R"({"names": ["A", "Z"], "parameters": [1, 2]})"),
         "BinaryInteractions references unknown pseudo-atom 'Z' in {p}"},
        {binary(R"({"names": ["A", "B"], "parameters": [1, 2]}, {"names": ["B", "A"], "parameters": [1, 2]})"),
         "duplicate BinaryInteractions entry for (A, B) in {p}"},
        {kRule + R"("PseudoAtoms": [{"name": "Lw", "mass": 0.0, "charge": -0.241}]})",
         "mass of PseudoAtoms entry 'Lw' in {p} must be positive, got 0 (LAMMPS refuses a zero or negative mass; give "
         "a massless site a small positive mass)"},
        {atom(R"("C\u0000")"), "PseudoAtoms name \"C\\0\" in {p} " + kControl},
        {atom(R"("C\u007f")"), "PseudoAtoms name \"C\\u{7f}\" in {p} " + kControl},
        {atom(R"("A&  ")"),
         "PseudoAtoms name \"A&  \" in {p} ends with '&', which LAMMPS reads as a line continuation that swallows "
         "the next line; remove the '&'"},
        {atom(R"("O\"\"\"x")"), "PseudoAtoms name \"O\\\"\\\"\\\"x\" in {p} " + triple},
        {atom(R"("Q")", R"("Smith, \"\"\"Water\"")"),
         "\"source\" of PseudoAtoms entry 'Q' \"Smith, \\\"\\\"\\\"Water\\\"\" in {p} " + triple},
        {atom(R"("Q")", "null", R"(, "SelfInteractions": [{"name": "Q", "parameters": [1, 2], "source": "x\"\"\""}])"),
         "\"source\" of SelfInteractions entry 'Q' \"x\\\"\\\"\\\"\" in {p} " + triple},
        {atom(R"("Q")", "null",
              R"(, "BinaryInteractions": [{"names": ["Q", "B"], "parameters": [1, 2], "source": "\"\"\""}])"),
         "\"source\" of BinaryInteractions entry (Q, B) \"\\\"\\\"\\\"\" in {p} " + triple},
        // Accepted: an unused SelfInteractions entry; a pair of one type; what LAMMPS reads as plain text ('&' not
        // at the end, lone quotes, '#', UTF-8, and in a citation line breaks, tabs and a final '&').
        {self(R"({"name": "ghost", "type": "bad", "parameters": [1], "source": "\"\"\""})"), ""},
        {binary(R"({"names": ["A", "A"], "parameters": [1, 2]})"), ""},
        {kRule + R"("PseudoAtoms": []})", ""},
        {atom(R"("A&B")"), ""},
        {atom(R"("&A")", R"("Smith &\r\nJones &\t\n\"\"")"), ""},
        {atom(R"("O\"'x#1 \u00c5")"), ""},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(ff_fault(text), message) << text.substr(0, 200);
    EXPECT_EQ(fault_of([&] { ForceField::load(dir_ / "absent.json"); }),
              "reading {d}/absent.json: No such file or directory");
}

// Inputs are read whole, so one past the limit is refused before any of it is read. The file is
// sparse: it takes no disk space.
TEST_F(Load, AFileBeyondTheSizeLimitIsRefusedUnread) {
#ifdef __SANITIZE_ADDRESS__
    GTEST_SKIP() << "the address sanitizer needs more address space than the limit below";
#endif
    const std::filesystem::path path = write("{}", "huge.json");
    std::filesystem::resize_file(path, max_input_file_bytes + 1);
    // In a child with 256 MiB of address space, a reader that took memory for the file first fails otherwise.
    const pid_t pid = ::fork();
    if (pid == 0) {
        const rlimit limit{256 << 20, 256 << 20};
        ::setrlimit(RLIMIT_AS, &limit);
        ::_exit(fault_of([&path] { Molecule::load(path); }) ==
                        "reading {d}/huge.json: the file is larger than the 1073741824 bytes an input file may have"
                    ? 0
                    : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0);
}

// A molecule as a load gives it: name, kind, atoms, bonds and bonded entries.
std::string summary(const Molecule& m) {
    std::string out = m.name + (m.connectivity_inferred ? " rigid, bonds inferred:"
                                : m.rigid                 ? " rigid:"
                                                          : " flexible:");
    for (const auto& [type, r] : m.pseudo_atoms) out += fmt::cat(" ", type, " ", r[0], " ", r[1], " ", r[2], ";");
    for (const auto& [a, b] : m.connectivity) out += fmt::cat(" ", a, "-", b);
    auto entries = [&out](const auto& list) {
        for (const auto& e : list) {
            out += " |";
            for (const std::string& name : e.names) out += " " + name;
            out += " " + e.potential + fmt::list_form(e.parameters);
        }
    };
    (entries(m.bond_entries), entries(m.bend_entries), entries(m.torsion_entries));
    return out;
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

// What a molecule load gives: the molecule's summary, or the failure with the path shown as {p}.
// The molecule is named after its file: the stem ends every Atoms line of data.lmp.
TEST_F(Load, MoleculeFormsAndFaults) {
    std::filesystem::create_directories(dir_ / "dir");
    const std::string two = R"({"pseudoAtoms": [["O", [0, 0, 0]], ["H", [1, 0, 0]]])";
    const std::string one = R"({"pseudoAtoms": [["C", [0, 0, 0]]])";
    const std::string p = "parsing {p}: ", beyond = ", more than the 1000000 a molecule may have";
    const struct {
        std::string text, expected, file = "water.json";
    } cases[] = {
        {R"({"Type": "flexible", "comment": [1, {"x": )" + kNest + R"(}],
            "pseudoAtoms": [["O", [0, 0, 0.5]], ["H", [0.9572, 0, -1e-3]], ["H", [-0.24, 0.927, 0]]],
            "Connectivity": [[0, 1], [2, 0]], "Bonds": [[["O", "H"], "HARMONIC", [1000, 0.9572]]],
            "Bends": [[["H", "O", "H"], "HARMONIC", []]], "Torsions": [[["A", "B", "C", "D"], "TRAPPE", [0, 1.5, -2, 3]]]})",
         "water flexible: O 0 0 0.5; H 0.9572 0 -0.001; H -0.24 0.927 0; 0-1 2-0 | O H HARMONIC[1000.0, 0.9572]"
         " | H O H HARMONIC[] | A B C D TRAPPE[0.0, 1.5, -2.0, 3.0]"},
        {R"([null, [["CH4", [0, 0, 0]]]])", "water flexible: CH4 0 0 0;"},
        {R"(["Rigid", [["O", [0, 0, 0]], ["H", [1, 0, 0]]], [[0, 1]], [[["O", "H"], "HARMONIC", [1, 2]]]])",
         "water rigid: O 0 0 0; H 1 0 0; 0-1 | O H HARMONIC[1.0, 2.0]"},
        // A misspelt Type is refused: read as flexible, it would change the model without a word.
        {one + R"(, "Type": "rigid "})", "{p}: Type must be \"rigid\", \"flexible\" or \"framework\", got \"rigid \""},
        {one + "}", "ethane.united flexible: C 0 0 0;", "dir/ethane.united.json"},
        {one + "}", "ethane flexible: C 0 0 0;", "ethane"},
        {one + "}", "file stem \"wa\\nter\" in {p} " + kControl, "wa\nter.json"},
        {R"({"pseudoAtoms": []})", "{p} defines no pseudoAtoms"},
        // Rigid for RASPA3 without Connectivity: the nearest atoms are bonded, whatever their order.
        {two + "}", "water rigid, bonds inferred: O 0 0 0; H 1 0 0; 0-1"},
        {R"({"Type": "RIGID", "pseudoAtoms": [["O", [0, 0, 1.149]], ["C", [0, 0, 0]], ["O", [0, 0, -1.149]]]})",
         "water rigid, bonds inferred: O 0 0 1.149; C 0 0 0; O 0 0 -1.149; 0-1 1-2"},
        {R"({"pseudoAtoms": [["H", [0.8, 0, -0.6]], ["H", [-0.8, 0, -0.6]], ["O", [0, 0, 0]], ["M", [0, 0, -0.15]]]})",
         "water rigid, bonds inferred: H 0.8 0 -0.6; H -0.8 0 -0.6; O 0 0 0; M 0 0 -0.15; 0-3 3-2 3-1"},
        {bonded_atoms(10'001, false).substr(0, bonded_atoms(10'001, false).find(R"(, "Connectivity")")) + "}",
         "{p} has 10001 pseudoAtoms but no Connectivity; cellkit bonds the atoms of a rigid molecule of at most "
         "10000 atoms itself: give the Connectivity of a larger one"},
        {two + R"(, "Type": "flexible"})",
         "{p} has 2 pseudoAtoms but no Connectivity; multi-atom molecules must declare which atoms are bonded "
         "(auto-bonding by index order is not used because it is wrong for branched molecules, e.g. water)"},
        {R"({"Type": "rigid", "pseudoAtoms": [["O", [0, 0, 0]], ["C", [0, 0, 2]], ["O", [0, 0, 0.005]]],
            "Connectivity": [[0, 1], [1, 2]]})",
         "{p}: pseudoAtoms 0 and 2 are 0.0050 \u00c5 apart in the template, closer than 0.01 \u00c5; a rigid "
         "molecule keeps the shape of its template, so give every atom its own position"},
        {two + R"(, "Connectivity": [[0, 1], [2, 1], [5, 0]]})",
         "{p} Connectivity references atom index out of range (2, 1) for 2 pseudoAtoms"},
        {one + R"(, "Connectivity": [[0, 1]]})",
         "{p} Connectivity references atom index out of range (0, 1) for 1 pseudoAtoms"},
        {two + R"(, "Type": "rigid", "Connectivity": [[0, 1], [1, 1]]})",
         "{p} Connectivity bonds atom 1 to itself (1, 1); remove that pair"},
        {R"({"pseudoAtoms": [["O", [0, 0, 0]], ["H", [1, 0, 0]], ["H", [0, 1, 0]]], "Connectivity": [[1, 0], [0, 2], [0, 1]]})",
         "{p} Connectivity lists the bond (0, 1) a second time (first as (1, 0)); list each bond once"},
        {two + ",\n \"Connectivity\": [[0, 1.5]]}",
         p + "invalid type: floating point `1.5`, expected a non-negative integer at line 2 column 25"},
        {two + R"(, "Connectivity": [[0, 1, 1]]})",
         p + "invalid length 3, expected a Connectivity pair of 2 atom indices at line 1 column 80"},
        {R"({"pseudoAtoms": [["C", [0, 0]]]})",
         p + "invalid length 2, expected an array of 3 numbers at line 1 column 29"},
        {R"({"pseudoAtoms": [["C"]]})",
         p + "invalid length 1, expected a pseudoAtoms entry of 2 elements (type name, position) at line 1 column 22"},
        {R"({"pseudoAtoms": [["A", )" + kNest + "]]}",
         p + "invalid type: sequence, expected a number at line 1 column 25"},
        {one + R"(, "Bonds": [[["C", "C", "C"], "HARMONIC", []]]})",
         p + "invalid length 3, expected an array of 2 type names at line 1 column 62"},
        {one + R"(, "Bends": [[["C", "C"], "HARMONIC", []]]})",
         p + "invalid length 2, expected an array of 3 type names at line 1 column 57"},
        {one + R"(, "Torsions": [[["C", "C", "C", "C"], "TRAPPE"]]})",
         p + "invalid length 2, expected a Torsions entry of 3 elements (names, potential, parameters) at line 1 "
             "column 81"},
        {one + R"(, "Type": 5})", p + "invalid type: integer `5`, expected a string or null at line 1 column 45"},
        {one + R"(, "Bonds": [], "Bonds": []})", p + "duplicate field `Bonds` at line 1 column 56"},
        // The bound is checked on counts, before anything is derived (three-membered rings not counted).
        {bonded_atoms(1416, false), "{p} Connectivity implies 1000405 angles" + beyond +
                                        " (atom 0 alone is bonded to 1415 atoms); check the Connectivity"},
        {bonded_atoms(45, true), "{p} Connectivity implies 1787940 dihedrals" + beyond + "; check the Connectivity"},
        {R"([null])", p + "invalid length 1, expected a molecule object with at least 2 elements at line 1 column 6"},
        {R"([null, [], [], [], [], [], {}])",
         p + "invalid length 7, expected a molecule object with at most 6 elements at line 1 column 30"},
    };
    for (const auto& c : cases) {
        std::string got;  // the fault, else (the call runs before the append) the summary
        got += load_fault(c.text, c.file, [&got](const auto& path) { got = summary(Molecule::load(path)); });
        EXPECT_EQ(got, c.expected) << c.text.substr(0, 99);
    }
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
