// A whole build from coordinates the caller already has.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <vector>

#include "common/box.hpp"
#include "common/interrupted.hpp"
#include "common/vec3.hpp"
#include "ff/molecule.hpp"
#include "lammps/pair_setup.hpp"
#include "pipeline/lammps_outputs.hpp"

namespace cellkit {

struct CoordsBuildArgs {
    std::vector<std::filesystem::path> species;
    std::vector<std::uint64_t> counts;
    Vec3View coords;  // canonical atom order, owned by the caller
    Box box;
    OptionalPairSetup pair_style = PairSetup::LjCut;
    bool explicit_lb = false;
    std::filesystem::path force_field = "force_field.json";
    std::filesystem::path out_dir = ".";
    std::optional<StarterSettings> starter;  // in.lammps as well
};

// Loads, resolves and writes data.lmp and forcefield.lmp; throws Error, or Interrupted once
// `should_stop` says so while data.lmp is written.
BuildSummary build_from_coords(CoordsBuildArgs args, const StopCheck& should_stop = {});

}  // namespace cellkit
