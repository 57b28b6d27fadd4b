#include <gtest/gtest.h>

#include <limits>

#include "raspa/raspa3_files.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;

class Raspa3Args : public testing::ScratchTest {};

TEST_F(Raspa3Args, CompactSortedWithLinksResolvedAndNonFiniteAsNull) {
    const fs::path ff = write("{}", "ff.json");
    fs::create_symlink(ff, dir_ / "link.json");
    const std::string real = fs::canonical(ff).string();
    const Raspa3Settings settings{
        .temperature = std::numeric_limits<double>::infinity(), .init_cycles = 3, .equil_cycles = 4, .prod_cycles = 5};
    // A path that cannot be resolved stays as given, its stray byte replaced.
    EXPECT_EQ(raspa3_args_json({dir_ / "link.json", "gone\xff.json"}, {0, 18446744073709551615u}, ff, 1000.0, settings),
              R"({"counts":[0,18446744073709551615],"density":1000.0,"force_field_path":")" + real +
                  R"(","molecule_paths":[")" + real + "\",\"gone\xef\xbf\xbd.json\"]," +
                  R"("n_equil_cycles":4,"n_init_cycles":3,"n_prod_cycles":5,"temperature":null})");
}

TEST(Raspa3Result, FaultsComeInTheirOrder) {
    const struct {
        const char* text;
        const char* fault;
    } cases[] = {
        {"[1]", "raspa result missing 'box_len'"},
        {R"({"box_len": 1, "box_len": "1", "coords": []})", "raspa result missing 'box_len'"},  // the last one counts
        {R"({"coords": [5]})", "raspa result missing 'box_len'"},
        {R"({"box_len": 1, "coords": [[0, 0, 0]], "coords": {}})", "raspa result missing 'coords'"},
        {R"({"box_len": 1, "coords": [[1, null]]})", "coords[0] has 2 elements, expected 3"},
        {R"({"box_len": 1, "coords": [[1, 2, 3], [1, 2, 3, 4], 5]})", "coords[1] has 4 elements, expected 3"},
        {R"({"box_len": 1, "coords": [[1, 2, 3], [true, "2", 3]]})", "coords[1][0] is not a number"},
        {R"({"box_len": 1, "coords": [5], "x": })", "parsing raspa result JSON: invalid value at line 1 column 36"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(testing::message_of([&] { parse_raspa3_result(c.text); }), c.fault) << c.text;
    }
}

}  // namespace
}  // namespace cellkit
