// A whole build through RASPA3: a Python subprocess builds and equilibrates the box, then the LAMMPS files are written.
#pragma once

#include "common/interrupted.hpp"
#include "pipeline/lammps_outputs.hpp"
#include "pipeline/pack_common_args.hpp"
#include "raspa/raspa3_files.hpp"

namespace cellkit {

// Loads and checks the input before RASPA3 starts, exchanges files with it in a
// fresh temporary directory that is removed on every way out, and writes
// data.lmp and forcefield.lmp. The box is checked as the Packmol route checks it. Throws
// Error; Interrupted when `should_stop` asks, in which case no output file
// has been touched.
BuildSummary run_pack_raspa(const PackCommonArgs& args, const Raspa3Settings& settings,
                            const StopCheck& should_stop = {});

}  // namespace cellkit
