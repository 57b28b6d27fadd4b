#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "common/file_io.hpp"
#include "pipeline/coords_build.hpp"
#include "pipeline/species_loading.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

class Pipeline : public testing::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        write(R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [{"name": "C", "mass": 12, "charge": 0}]})",
              "force_field.json");
        fs::create_directories(dir_ / "b");
        for (const char* name : {"c.json", "b/c.json", "C.json"}) write(R"({"pseudoAtoms": [["C", [0, 0, 0]]]})", name);
        write("{", "broken.json");
        args.force_field = dir_ / "force_field.json", args.box = 20.0;
    }
    std::vector<fs::path> paths(std::initializer_list<const char*> names) {
        std::vector<fs::path> out;
        for (const char* n : names) out.push_back(dir_ / n);
        return out;
    }
    Names names_in(const fs::path& dir) {
        Names names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    // A build of `counts` with `coords` into `out`, or the message it fails with.
    std::string build(const char* out, std::vector<std::uint64_t> counts, const std::vector<Vec3>& coords,
                      const StopCheck& stop = {}) {
        args.out_dir = dir_ / out, args.counts = std::move(counts), args.coords = coords;
        return fault_of([&] { build_from_coords(args, stop); });
    }
    CoordsBuildArgs args;
};

TEST_F(Pipeline, LoadingFaultsInOrderOfChecks) {
    const fs::path ff = dir_ / "force_field.json", broken = dir_ / "broken.json";
    const std::string eof = "parsing {d}/broken.json: EOF while parsing a value at line 1 column 1",
                      unique = "file stems must be unique";
    const std::tuple<fs::path, std::vector<fs::path>, std::vector<std::uint64_t>, std::string> cases[] = {
        {broken, {}, {1, 2}, "at least one --species is required"},
        {broken, paths({"c.json"}), {1, 2}, "--species has 1 entries but --counts has 2 (they must match 1:1)"},
        {ff, paths({"c.json", "broken.json", "missing.json"}), {1, 0, 1}, eof},
        {ff, paths({"c.json", "b/c.json"}), {0, 1}, "duplicate species name 'c' (from {d}/b/c.json); " + unique},
        {ff, paths({"c.json", "C.json"}), {0, 0}, ""},
    };
    for (const auto& [force_field, species, counts, message] : cases)
        EXPECT_EQ(fault_of([&] { load_molecules(force_field, species, counts); }), message);
}

TEST_F(Pipeline, OutputsReplaceTheirTargetsAndLeaveNoTemporaryFiles) {
    const std::vector<Vec3> two = {{0, 0, 0}, {1, 1, 1}}, one = {{3, 3, 3}};
    args.species = paths({"c.json", "C.json"});
    EXPECT_EQ(build("out/deeper", {2, 0}, two), "");

    // A second build replaces both files whole; one stopped while data.lmp streams leaves them as they were.
    EXPECT_EQ(build("out/deeper", {1, 0}, one), "");
    const std::string text = read_text_file(dir_ / "out/deeper/data.lmp");
    EXPECT_NE(text.find("\n1 atoms\n"), std::string::npos);
    EXPECT_THROW(build("out/deeper", {2, 0}, two, [] { return true; }), Interrupted);
    EXPECT_EQ(read_text_file(dir_ / "out/deeper/data.lmp"), text);
    EXPECT_EQ(names_in(dir_ / "out/deeper"), (Names{"data.lmp", "forcefield.lmp"}));

    // A target that cannot be replaced stops the build before either file is: no data.lmp without
    // its forcefield.lmp, and no temporary file.
    fs::create_directories(dir_ / "fresh/forcefield.lmp");
    EXPECT_EQ(build("fresh", {1, 0}, one), "writing {d}/fresh/forcefield.lmp: Is a directory");
    EXPECT_EQ(names_in(dir_ / "fresh"), (Names{"forcefield.lmp"}));
    EXPECT_EQ(build("c.json/out", {1, 0}, one), "creating {d}/c.json/out: Not a directory");
}

TEST_F(Pipeline, ReplacedFilesKeepTheirModeAndOnlyStaleTemporariesGo) {
    args.species = paths({"c.json"});
    const std::vector<Vec3> one = {{1, 1, 1}};
    const mode_t umask_before = ::umask(022);
    EXPECT_EQ(build("out", {1}, one), "");
    auto mode_of = [](const fs::path& p) { return static_cast<int>(fs::status(p).permissions()); };
    EXPECT_EQ(mode_of(dir_ / "out/data.lmp"), 0644);
    fs::permissions(dir_ / "out/data.lmp", fs::perms(0640));
    fs::permissions(dir_ / "out/forcefield.lmp", fs::perms(0400));

    // Temporary files of a process that has ended go; those of a live one, and names not ours, stay.
    const std::string dead = "4194305", live = std::to_string(::getppid());  // above any pid Linux gives
    for (const std::string& name :
         Names{".data.lmp.tmp-" + dead + "-0", ".forcefield.lmp.tmp-" + dead + "-7", ".data.lmp.tmp-" + live + "-0",
               ".data.lmp.tmp-x-1", ".other.tmp-" + dead + "-1"})
        write("", "out/" + name);
    EXPECT_EQ(build("out", {1}, one), "");
    ::umask(umask_before);
    EXPECT_EQ(mode_of(dir_ / "out/data.lmp"), 0640);
    EXPECT_EQ(mode_of(dir_ / "out/forcefield.lmp"), 0400);
    EXPECT_EQ(names_in(dir_ / "out"), (Names{".data.lmp.tmp-" + live + "-0", ".data.lmp.tmp-x-1",
                                             ".other.tmp-" + dead + "-1", "data.lmp", "forcefield.lmp"}));

    // "File exists" is all the system would say about a link to nothing.
    fs::create_directory_symlink(dir_ / "nowhere", dir_ / "dangling");
    for (const char* out : {"dangling", "dangling/sub"})
        EXPECT_EQ(build(out, {1}, one), std::string("creating {d}/") + out +
                                            ": {d}/dangling is a broken symbolic link (to {d}/nowhere); create its "
                                            "target or remove the link");
}

}  // namespace
}  // namespace cellkit
