// Packs the active species as pack_system does, with the box cut into sub-boxes that Packmol runs fill side by side.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "common/interrupted.hpp"
#include "common/vec3.hpp"
#include "lammps/box_shape.hpp"
#include "lammps/system.hpp"
#include "packmol/packmol_input.hpp"

namespace cellkit {

// Told a line at a time how a long packing goes.
using ProgressReport = std::function<void(const std::string& line)>;

struct SubBoxSplit {
    std::vector<std::uint64_t> grid;    // sub-boxes along x, y, z (1 or even); empty: choose_grid() chooses
    std::size_t jobs = 0;               // Packmol runs at once; 0: one per available core
    std::uint64_t seed = default_seed;  // the first sub-box's; the next ones count on from it
    // Told how the box is cut, then of each sub-box packed.
    ProgressReport progress = {};
};

struct PackedSubBoxes {
    std::vector<Vec3> coords;  // canonical atom order
    std::size_t sub_boxes = 0;
    // "sub-box {k} of {n}: " and the note of each sub-box whose Packmol exited
    // unsuccessfully but left a usable box, in sub-box order; for one sub-box
    // the single run's note alone.
    std::vector<std::string> notes;
    // The whole output of each run behind a note, after a line "== sub-box {k} of {n} ==" when split.
    std::optional<std::string> log;
};

// The box and tolerance are pack_system's; plan_sub_boxes() cuts the periodic box of a bulk liquid
// into a grid without gaps. One sub-box is pack_system's run itself, note unchanged; so is a box that
// is not one bulk liquid (a slab, layers), which only a single run packs. The sub-boxes are packed
// round by round (SubBox::round), those of a round at once, each in its whole slice and clear, by the
// tolerance, of the atoms its already packed neighbours put near its faces (across the periodic
// faces too): the box is as even as one run's. Sub-box k (from 1) is packed in the folder
// "sub_box_{k}" of `work_dir` by its own Packmol, with its own seed so that equal sub-boxes are not
// packed alike; sub-boxes without molecules are not run. The first fault of a sub-box ends the
// Packmol runs still going and throws pack_system's message after "sub-box {k} of {n}: ". A stop
// request ends them all and throws Interrupted. The folders stay in `work_dir` for the caller to remove.
PackedSubBoxes pack_sub_boxes(const std::filesystem::path& work_dir, const ActiveSpeciesList& active,
                              const ShapedBox& shaped, double tolerance, const SubBoxSplit& split,
                              const StopCheck& should_stop = {});

}  // namespace cellkit
