// A whole build by density: Packmol packs the box, then the LAMMPS files are written.
#pragma once

#include "common/interrupted.hpp"
#include "packmol/pack_sub_boxes.hpp"
#include "pipeline/lammps_outputs.hpp"
#include "pipeline/pack_common_args.hpp"

namespace cellkit {

// Loads and checks the input before Packmol starts, packs in a fresh
// temporary directory that is removed on every way out, and writes data.lmp
// and forcefield.lmp. Throws Error; Interrupted when `should_stop` asks, in
// which case no output file has been touched.
BuildSummary run_pack_packmol(const PackCommonArgs& args, double tolerance, const StopCheck& should_stop = {});

// The same with the box packed in sub-boxes (pack_sub_boxes), Packmol runs side
// by side; the note of each sub-box is a warning of the summary.
BuildSummary run_pack_packmol_sub_boxes(const PackCommonArgs& args, double tolerance, const SubBoxSplit& split,
                                        const StopCheck& should_stop = {});

}  // namespace cellkit
