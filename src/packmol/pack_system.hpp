// Packs the active species into a cubic box at a mass density by running Packmol.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/interrupted.hpp"
#include "common/process.hpp"
#include "common/vec3.hpp"
#include "ff/force_field.hpp"
#include "lammps/box_shape.hpp"
#include "lammps/system.hpp"
#include "packmol/packmol_input.hpp"

namespace cellkit {

struct PackedBox {
    std::vector<Vec3> coords;  // canonical atom order, as Packmol writes it
    // Set when Packmol exited unsuccessfully but left a usable box: packmol_brief() of the run, and
    // its whole output (packmol_log_text()).
    std::optional<std::string> note;
    std::optional<std::string> log;
};

// Writes the templates and pack.inp into `work_dir` (existing, empty), runs `packmol` there with the
// script on its standard input, and reads simbox.pdb. The box is `shaped`, periodic on every axis;
// each species fills the whole x-y section within its slice along z; Packmol starts from `seed`. Throws Error with the
// first fault; throws Interrupted (Packmol ended) when `should_stop` asks for it. The files stay in `work_dir` for the
// caller to remove.
PackedBox pack_system(const std::filesystem::path& work_dir, const ActiveSpeciesList& active, const ShapedBox& shaped,
                      double tolerance, std::uint64_t seed = default_seed, const StopCheck& should_stop = {});

// The pieces of pack_system, shared with the packing in sub-boxes.

// Writes into `dir` the templates of the species whose entry in `counts` (one
// per active species) is above 0 and a pack.inp placing them inside their entry of `regions` (one per
// active species) in the periodic box from the origin to `box`, clear of `obstacles` (fixed
// atoms, if any), each molecule starting where first_guesses() puts it; returns the request that runs
// Packmol on them there, which stops when `should_stop` asks.
ProcessRequest write_packmol_run(const std::filesystem::path& dir, const ActiveSpeciesList& active,
                                 const std::vector<std::uint64_t>& counts, const Vec3& box,
                                 const std::vector<PackRegion>& regions, double tolerance,
                                 std::optional<std::uint64_t> seed = {}, const std::vector<Vec3>& obstacles = {},
                                 const StopCheck& should_stop = {});

// Throws Error "failed to launch packmol (is it installed and on PATH?): {system text}".
[[noreturn]] void fail_packmol_launch(const LaunchError& e);

struct PackmolOutput {
    std::vector<Vec3> coords;
    std::optional<std::string> note, log;  // as PackedBox's
};

// The box a finished run left in `dir`: its first `expected_atoms` atoms, checked to be followed by
// the `obstacles` fixed atoms and nothing else. A Packmol whose banner names a version before 20.15,
// which has no periodic packing, is refused.
PackmolOutput read_packmol_output(const std::filesystem::path& dir, const ProcessResult& run,
                                  std::uint64_t expected_atoms, std::uint64_t obstacles = 0);

}  // namespace cellkit
