#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "pipeline/coords_build.hpp"
#include "pipeline/species_loading.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

namespace fs = std::filesystem;

class Pipeline : public testing::ScratchTest {
protected:
    void SetUp() override {
        ScratchTest::SetUp();
        write(R"({"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [{"name": "C", "mass": 12, "charge": 0}]})",
              "force_field.json");
        fs::create_directories(dir_ / "b");
        for (const char* name : {"c.json", "b/c.json", "C.json"}) write(R"({"pseudoAtoms": [["C", [0, 0, 0]]]})", name);
        write("{", "broken.json");
        args.force_field = dir_ / "force_field.json";
        args.box_len = 20;
    }
    std::vector<fs::path> paths(std::initializer_list<const char*> names) {
        std::vector<fs::path> out;
        for (const char* n : names) out.push_back(dir_ / n);
        return out;
    }
    std::vector<std::string> names_in(const fs::path& dir) {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }
    CoordsBuildArgs args;
};

TEST_F(Pipeline, LoadingFaultsInOrderOfChecks) {
    const fs::path ff = dir_ / "force_field.json", broken = dir_ / "broken.json";
    const std::string eof = "parsing {d}/broken.json: EOF while parsing a value at line 1 column 1";
    const std::tuple<fs::path, std::vector<fs::path>, std::vector<std::uint64_t>, std::string> cases[] = {
        {broken, {}, {1, 2}, "at least one --species is required"},
        {broken, paths({"c.json"}), {1, 2}, "--species has 1 entries but --counts has 2 (they must match 1:1)"},
        {broken, paths({"broken.json"}), {1}, eof},
        {ff, paths({"c.json", "broken.json", "missing.json"}), {1, 0, 1}, eof},
        {ff,
         paths({"c.json", "b/c.json"}),
         {0, 1},
         "duplicate species name 'c' (from {d}/b/c.json); file stems must be unique"},
        {ff, paths({"c.json", "C.json"}), {0, 0}, ""},
    };
    for (const auto& [force_field, species, counts, message] : cases) {
        EXPECT_EQ(fault_of([&] { load_molecules(force_field, species, counts); }), message);
    }
    const LoadedInputs loaded = load_molecules(ff, paths({"c.json", "C.json"}), {0, 5});
    EXPECT_EQ(loaded.skipped, std::vector<std::string>{"c"});
    EXPECT_EQ(loaded.molecules.size(), 2u);
}

TEST_F(Pipeline, OutputsReplaceTheirTargetsAndLeaveNoTemporaryFiles) {
    const std::vector<Vec3> two = {{0, 0, 0}, {1, 1, 1}}, one = {{3, 3, 3}};
    args.species = paths({"c.json", "C.json"});
    args.counts = {2, 0};
    args.coords = two;
    args.out_dir = dir_ / "out/deeper";
    const BuildSummary first = build_from_coords(args);
    EXPECT_EQ(first.data_path, dir_ / "out/deeper/data.lmp");
    EXPECT_EQ(first.skipped, std::vector<std::string>{"C"});
    EXPECT_EQ(first.n_atoms, 2u);

    // A second build replaces both files whole.
    args.counts = {1, 0};
    args.coords = one;
    build_from_coords(args);
    std::ifstream data(dir_ / "out/deeper/data.lmp");
    const std::string text((std::istreambuf_iterator<char>(data)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("\n1 atoms\n"), std::string::npos);
    EXPECT_EQ(names_in(dir_ / "out/deeper"), (std::vector<std::string>{"data.lmp", "forcefield.lmp"}));
    // A build stopped while data.lmp streams leaves both files as they were.
    args.coords = two;
    args.counts = {2, 0};
    EXPECT_THROW(build_from_coords(args, [] { return true; }), Interrupted);
    std::ifstream again(dir_ / "out/deeper/data.lmp");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(again), {}), text);
    EXPECT_EQ(names_in(dir_ / "out/deeper"), (std::vector<std::string>{"data.lmp", "forcefield.lmp"}));

    // A coordinate count that does not fit writes nothing; an unwritable target leaves no temporary file.
    args.out_dir = dir_ / "fresh";
    args.counts = {1, 0};
    args.coords = {};
    EXPECT_EQ(fault_of([&] { build_from_coords(args); }), "internal error: expected 1 packed atom coordinates, got 0");
    EXPECT_TRUE(fs::is_empty(dir_ / "fresh"));
    args.coords = one;
    fs::create_directories(dir_ / "fresh/forcefield.lmp");
    EXPECT_EQ(fault_of([&] { build_from_coords(args); }), "writing {d}/fresh/forcefield.lmp: Is a directory");
    EXPECT_EQ(names_in(dir_ / "fresh"), (std::vector<std::string>{"data.lmp", "forcefield.lmp"}));

    args.out_dir = dir_ / "c.json/out";
    EXPECT_EQ(fault_of([&] { build_from_coords(args); }), "creating {d}/c.json/out: Not a directory");
}

TEST_F(Pipeline, ReplacedFilesKeepTheirModeAndOnlyStaleTemporariesGo) {
    args.species = paths({"c.json"});
    args.counts = {1};
    const std::vector<Vec3> one = {{1, 1, 1}};
    args.coords = one;
    args.out_dir = dir_ / "out";
    const mode_t umask_before = ::umask(022);
    build_from_coords(args);
    auto mode_of = [](const fs::path& p) { return static_cast<int>(fs::status(p).permissions()); };
    EXPECT_EQ(mode_of(dir_ / "out/data.lmp"), 0644);
    fs::permissions(dir_ / "out/data.lmp", fs::perms(0640));
    fs::permissions(dir_ / "out/forcefield.lmp", fs::perms(0400));

    // Temporary files of a process that has ended go; those of a live one, and names not ours, stay.
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);
    const std::string dead = std::to_string(child);
    const std::string live = std::to_string(::getppid());
    for (const std::string& name :
         std::vector<std::string>{".data.lmp.tmp-" + dead + "-0", ".forcefield.lmp.tmp-" + dead + "-7",
                                  ".data.lmp.tmp-" + live + "-0", ".data.lmp.tmp-x-1", ".other.tmp-" + dead + "-1"}) {
        write("", "out/" + name);
    }
    build_from_coords(args);
    ::umask(umask_before);
    EXPECT_EQ(mode_of(dir_ / "out/data.lmp"), 0640);
    EXPECT_EQ(mode_of(dir_ / "out/forcefield.lmp"), 0400);
    EXPECT_EQ(names_in(dir_ / "out"),
              (std::vector<std::string>{".data.lmp.tmp-" + live + "-0", ".data.lmp.tmp-x-1",
                                        ".other.tmp-" + dead + "-1", "data.lmp", "forcefield.lmp"}));

    // "File exists" is all the system would say about a link to nothing.
    fs::create_directory_symlink(dir_ / "nowhere", dir_ / "dangling");
    for (const char* out : {"dangling", "dangling/sub"}) {
        args.out_dir = dir_ / out;
        EXPECT_EQ(
            fault_of([&] { build_from_coords(args); }),
            std::string("creating {d}/") + out +
                ": {d}/dangling is a broken symbolic link (to {d}/nowhere); create its target or remove the link");
    }
}

}  // namespace
}  // namespace cellkit
