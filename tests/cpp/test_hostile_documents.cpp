#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/file_io.hpp"
#include "ff/force_field.hpp"
#include "ff/molecule.hpp"
#include "raspa/raspa3_files.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

// A million nested arrays: a reader that recursed would overflow its stack on them.
constexpr std::size_t kDepth = 1'000'000;
const std::string kOpen(kDepth, '[');
const std::string kNest = kOpen + std::string(kDepth, ']');

class HostileDocuments : public testing::ScratchTest {};

TEST_F(HostileDocuments, DeepNestsAreSkippedOrRefusedWithTheReadersMessage) {
    const std::string atoms = R"("PseudoAtoms": [{"name": "A", "mass": 1, "charge": 0}])";
    const std::string ff = R"({"MixingRule": "Lorentz-Berthelot", )";
    const auto force_field = [](const auto& path) { ForceField::load(path); };
    const auto molecule = [](const auto& path) { Molecule::load(path); };
    const struct {
        std::string text;
        bool is_molecule;
        std::string fault;
    } cases[] = {
        {ff + R"("comment": )" + kNest + ", " + atoms + "}", false, ""},
        {ff + R"("PseudoAtoms": )" + kNest + "}", false,
         "parsing {p}: invalid type: sequence, expected a string at line 1 column 54"},
        {ff + R"("PseudoAtoms": [)" + kOpen, false, "parsing {p}: EOF while parsing a value at line 1 column 1000052"},
        {ff + atoms + R"(, "SelfInteractions": [{"name": "A", "parameters": )" + kNest + "}]}", false,
         "parsing {p}: invalid type: sequence, expected a number at line 1 column 143"},
        {R"({"pseudoAtoms": [["A", [0, 0, 0]]], "x": )" + kNest + "}", true, ""},
        {R"({"pseudoAtoms": [["A", )" + kNest + "]]}", true,
         "parsing {p}: invalid type: sequence, expected a number at line 1 column 25"},
        {R"({"pseudoAtoms": [["A", [0, 0, 0]]], "Connectivity": )" + kNest + "}", true,
         "parsing {p}: invalid type: sequence, expected a non-negative integer at line 1 column 55"},
        {R"({"pseudoAtoms": [["A", [0, 0, 0]]], "Bonds": [[)" + kNest + "]]}", true,
         "parsing {p}: invalid type: sequence, expected a string at line 1 column 49"},
    };
    for (const auto& c : cases) {
        const std::string fault =
            c.is_molecule ? load_fault(c.text, "m.json", molecule) : load_fault(c.text, "ff.json", force_field);
        EXPECT_EQ(fault, c.fault) << c.text.substr(0, 60);
    }
}

// Inputs are read whole, so one past the limit is refused before any of it is read. The file is
// sparse: it takes no disk space.
TEST_F(HostileDocuments, AFileBeyondTheSizeLimitIsRefusedUnread) {
    const std::filesystem::path path = write("{}", "huge.json");
    std::filesystem::resize_file(path, max_input_file_bytes + 1);
    const std::string beyond = ": the file is larger than the 1073741824 bytes an input file may have";
    EXPECT_EQ(fault_of([&path] { ForceField::load(path); }), "reading {d}/huge.json" + beyond);
    EXPECT_EQ(fault_of([&path] { Molecule::load(path); }), "reading {d}/huge.json" + beyond);
}

TEST(HostileRaspa3Result, DeepNestsAreSkippedOrRefused) {
    const struct {
        std::string text;
        std::string fault;
    } cases[] = {
        {R"({"note": )" + kNest + R"(, "box_len": 1, "coords": []})", ""},
        {R"({"box_len": 1, "coords": )" + kNest + "}", "coords[0] has 1 elements, expected 3"},
        {R"({"box_len": )" + kNest + R"(, "coords": []})", "raspa result missing 'box_len'"},
        {R"({"box_len": 1, "coords": [)" + kOpen,
         "parsing raspa result JSON: EOF while parsing a value at line 1 column 1000026"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::message_of([&c] { parse_raspa3_result(c.text); }), c.fault) << c.text.substr(0, 60);
    }
}

}  // namespace
}  // namespace cellkit
