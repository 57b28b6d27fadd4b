#include <gtest/gtest.h>

#include <filesystem>

#include "ff/force_field.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;

class ForceFieldLoad : public testing::ScratchTest {
protected:
    fs::path write(const std::string& text, const std::string& file_name = "force_field.json") {
        return ScratchTest::write(text, file_name);
    }
    std::string fault(const std::string& text) { return load_fault(text, "force_field.json", ForceField::load); }
};

const std::string kAtoms =
    R"("PseudoAtoms": [{"name": "A", "mass": 1, "charge": 0}, {"name": "B", "mass": 2, "charge": 0}])";

std::string with_atoms(const std::string& rest) {
    return R"({"MixingRule": "Lorentz-Berthelot", )" + kAtoms + (rest.empty() ? "" : ", " + rest) + "}";
}

TEST_F(ForceFieldLoad, ObjectFormBuildsTheModel) {
    const ForceField ff = ForceField::load(write(R"({
        "comment": {"nested": [1, null]},
        "MixingRule": "Lorentz-Berthelot", "CutOffVDW": 12,
        "PseudoAtoms": [
            {"name": "O", "mass": 15.9994, "charge": -0.8476, "source": "paper"},
            {"name": "H", "mass": 1, "charge": 0.4238, "source": "other"},
            {"name": "N", "mass": 14.007, "charge": 0, "source": null}],
        "SelfInteractions": [
            {"name": "O", "type": "Lennard-JONES", "parameters": [78.2, 3.166], "source": "paper"},
            {"name": "H", "parameters": [0, 0], "source": "self"},
            {"name": "ghost", "type": "buckingham", "parameters": []}],
        "BinaryInteractions": [
            {"names": ["O", "H"], "parameters": [10, 2.5], "source": "pair"},
            {"names": ["N", "N"], "type": "lennard-jones", "parameters": [1, 2], "source": null}]
    })"));
    using Sources = std::vector<std::string>;
    auto atom = [&ff](const char* n) {
        const PseudoAtomParams& p = *ff.find(n);
        return std::tuple(p.mass, p.charge, p.epsilon, p.sigma, p.sources);
    };
    ASSERT_EQ(ff.pseudo_atoms.size(), 3u);
    EXPECT_EQ(atom("O"), std::tuple(15.9994, -0.8476, 78.2, 3.166, Sources{"paper"}));
    EXPECT_EQ(atom("H"), std::tuple(1.0, 0.4238, 0.0, 0.0, Sources{"self", "other"}));
    EXPECT_EQ(atom("N"), std::tuple(14.007, 0.0, 0.0, 0.0, Sources{}));

    auto pair = [&ff](const char* a, const char* b) {
        const BinaryPairParams& p = *ff.find_pair(a, b);
        return std::tuple(p.epsilon, p.sigma, p.source);
    };
    ASSERT_EQ(ff.binary_pairs.size(), 2u);
    ASSERT_TRUE(ff.binary_pairs.contains(NamePair{"H", "O"}));
    EXPECT_EQ(pair("O", "H"), std::tuple(10.0, 2.5, std::optional<std::string>("pair")));
    EXPECT_EQ(pair("N", "N"), std::tuple(1.0, 2.0, std::optional<std::string>()));
    EXPECT_EQ(ff.find_pair("O", "N"), nullptr);
}

TEST_F(ForceFieldLoad, ArrayFormsReadLikeObjects) {
    const ForceField ff = ForceField::load(write(R"(["Lorentz-Berthelot", 12.5,
        [["O", 16, -0.8, "s"], ["H", 1, 0.4]],
        [["O", "lennard-jones", [78, 3.1], null]],
        [[["H", "O"], "LENNARD-JONES", [5, 2]]]])"));
    EXPECT_EQ(ff.find("O")->sources, std::vector<std::string>{"s"});
    EXPECT_EQ(ff.find("O")->epsilon, 78.0);
    EXPECT_EQ(ff.find("H")->charge, 0.4);
    EXPECT_EQ(ff.find_pair("O", "H")->epsilon, 5.0);
    EXPECT_EQ(fault(R"(["Lorentz-Berthelot", 12])"),
              "parsing {p}: invalid length 2, expected a force-field object with at least 3 elements at line 1 "
              "column 25");
    EXPECT_EQ(fault(R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": []})"), "");
}

std::string self_entries(const std::string& entries) {
    return with_atoms(R"("SelfInteractions": [)" + entries + "]");
}

std::string binary_entries(const std::string& entries) {
    return with_atoms(R"("BinaryInteractions": [)" + entries + "]");
}

// Reading faults, then validation faults in the order of the checks.
TEST_F(ForceFieldLoad, Faults) {
    const std::string twice_a = R"({"name": "A", "mass": 1, "charge": 0}, {"name": "A", "mass": 1, "charge": 0})";
    const std::string twice_x = R"({"name": "x", "parameters": []}, {"name": "x", "parameters": []})";
    const std::pair<std::string, std::string> cases[] = {
        {R"({"PseudoAtoms": []})", "parsing {p}: missing field `MixingRule` at line 1 column 19"},
        {R"({"MixingRule": "Lorentz-Berthelot"})", "parsing {p}: missing field `PseudoAtoms` at line 1 column 35"},
        {with_atoms(R"("CutOffVDW": "12")"),
         "parsing {p}: invalid type: string \"12\", expected a number at line 1 column 148"},
        {R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [{"name": "A", "mass": null, "charge": 0}]})",
         "parsing {p}: invalid type: null, expected a number at line 1 column 78"},
        {with_atoms(R"("SelfInteractions": [{"name": "A", "type": null, "parameters": []}])"),
         "parsing {p}: invalid type: null, expected a string at line 1 column 178"},
        {with_atoms(R"("SelfInteractions": [{"name": "A"}])"),
         "parsing {p}: missing field `parameters` at line 1 column 165"},
        {"{\"MixingRule\": \"\xff\"}", "reading {p}: stream did not contain valid UTF-8"},
        {R"({"MixingRule": "lorentz-berthelot", "PseudoAtoms": [], "SelfInteractions": [)" + twice_x + "]}",
         "unsupported MixingRule 'lorentz-berthelot' in {p} (only \"Lorentz-Berthelot\" is supported)"},
        {R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [)" + twice_a + R"(], "SelfInteractions": [)" + twice_x +
             "]}",
         "duplicate SelfInteractions entry for 'x' in {p}"},
        {self_entries(R"({"name": "B", "type": "lennard jones", "parameters": [1]})"),
         "unsupported SelfInteractions type 'lennard jones' for 'B' (only lennard-jones is supported)"},
        {self_entries(R"({"name": "A", "parameters": [12, 0.35, 1e-7]})"),
         "SelfInteractions for 'A' must have [epsilon_K, sigma_Ang], got [12.0, 0.35, 1e-7]"},
        {R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [)" + twice_a + "]}",
         "duplicate PseudoAtoms entry for 'A' in {p}"},
        {binary_entries(R"({"names": ["A", "B", "C"], "type": "x", "parameters": []})"),
         "BinaryInteractions entry in {p} must have exactly two \"names\", got [\"A\", \"B\", \"C\"]"},
        {binary_entries(R"({"names": ["A", "Z"], "type": "mie", "parameters": []})"),
         "unsupported BinaryInteractions type 'mie' for (A, Z) (only lennard-jones is supported)"},
        {binary_entries(R"({"names": ["Z", "A"], "parameters": [1]})"),
         "BinaryInteractions for (Z, A) must have [epsilon_K, sigma_Ang], got [1.0]"},
        {binary_entries(R"({"names": ["Y", "Z"], "parameters": [1, 2]})"),
         "BinaryInteractions references unknown pseudo-atom 'Y' in {p}"},
        {binary_entries(R"({"names": ["A", "Z"], "parameters": [1, 2]})"),
         "BinaryInteractions references unknown pseudo-atom 'Z' in {p}"},
        {binary_entries(R"({"names": ["A", "B"], "parameters": [1, 2]}, {"names": ["B", "A"], "parameters": [1, 2]})"),
         "duplicate BinaryInteractions entry for (A, B) in {p}"},
        {self_entries(R"({"name": "ghost", "type": "bad", "parameters": [1]})"), ""},
        {R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [{"name": "Lw", "mass": 0.0, "charge": -0.241}]})",
         "mass of PseudoAtoms entry 'Lw' in {p} must be positive, got 0 (LAMMPS refuses a zero or negative mass; give "
         "a massless site a small positive mass)"},
        {binary_entries(R"({"names": ["A", "A"], "parameters": [1, 2]})"), ""},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(fault(text), message) << text;
    EXPECT_EQ(fault_of([&] { ForceField::load(dir_ / "absent.json"); }),
              "reading {d}/absent.json: No such file or directory");
}

// Every text that forcefield.lmp and data.lmp carry goes through one check: names must keep the
// line they are written on to themselves, citations must not open a multi-line string.
TEST_F(ForceFieldLoad, TextsThatLammpsWouldReadAsMoreThanText) {
    const std::string control =
        "contains a control character, which breaks the line it is written on in data.lmp and forcefield.lmp; "
        "remove the control character";
    const std::string triple =
        "contains \"\"\", which LAMMPS reads as the start of a multi-line string that swallows the lines after "
        "it; remove the triple quote";
    const std::string ampersand =
        "ends with '&', which LAMMPS reads as a line continuation that swallows the next line; remove the '&'";
    auto atom = [](const std::string& name_json, const std::string& source_json = "null") {
        return R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [{"name": "B", "mass": 1, "charge": 0}, )"
               R"({"name": )" +
               name_json + R"(, "mass": 1, "charge": 0, "source": )" + source_json + "}]";
    };
    const std::pair<std::string, std::string> cases[] = {
        {atom(R"("C\nshell rm x")") + "}", "PseudoAtoms name \"C\\nshell rm x\" in {p} " + control},
        {atom(R"("C\u0000")") + "}", "PseudoAtoms name \"C\\0\" in {p} " + control},
        {atom(R"("C\u007f")") + "}", "PseudoAtoms name \"C\\u{7f}\" in {p} " + control},
        {atom(R"("A&  ")") + "}", "PseudoAtoms name \"A&  \" in {p} " + ampersand},
        {atom(R"("O\"\"\"x")") + "}", "PseudoAtoms name \"O\\\"\\\"\\\"x\" in {p} " + triple},
        {atom(R"("Q")", R"("Smith, \"\"\"Water\"")") + "}",
         "\"source\" of PseudoAtoms entry 'Q' \"Smith, \\\"\\\"\\\"Water\\\"\" in {p} " + triple},
        {atom(R"("Q")") + R"(, "SelfInteractions": [{"name": "Q", "parameters": [1, 2], "source": "x\"\"\""}]})",
         "\"source\" of SelfInteractions entry 'Q' \"x\\\"\\\"\\\"\" in {p} " + triple},
        {atom(R"("Q")") +
             R"(, "BinaryInteractions": [{"names": ["Q", "B"], "parameters": [1, 2], "source": "\"\"\""}]})",
         "\"source\" of BinaryInteractions entry (Q, B) \"\\\"\\\"\\\"\" in {p} " + triple},
        // What LAMMPS reads as plain text passes: '&' not at the end, lone quotes, '#', blanks, UTF-8;
        // in a citation line breaks, tabs and a final '&' only make more comment lines.
        {atom(R"("A&B")") + "}", ""},
        {atom(R"("&A")", R"("Smith &\r\nJones &\t\n\"\"")") + "}", ""},
        {atom(R"("O\"'x#1 \u00c5")") + "}", ""},
        // A SelfInteractions entry that no pseudo-atom uses is never written.
        {atom(R"("Q")") + R"(, "SelfInteractions": [{"name": "Z", "parameters": [1, 2], "source": "\"\"\""}]})", ""},
    };
    for (const auto& [text, message] : cases) EXPECT_EQ(fault(text), message) << text;
}

}  // namespace
}  // namespace cellkit
