// Has RASPA3 build and equilibrate the box, through a Python subprocess that calls cellkit.raspa_init.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "common/interrupted.hpp"
#include "raspa/raspa3_files.hpp"

namespace cellkit {

// The one-line script run with `python -c`; it takes the argument and result
// file paths as sys.argv[1] and [2], so no path ever becomes part of its code.
extern const char* const raspa3_script;

// Writes raspa3_args.json into `work_dir` (existing), runs the script in the
// caller's directory with `python`, or `python3` when `python` cannot be
// started, and reads raspa3_result.json back. Output printed on success
// becomes the note "raspa output: {text}". Throws Error with the first fault;
// Interrupted (interpreter ended) when `should_stop` asks for it. The files
// stay in `work_dir` for the caller to remove.
Raspa3Box raspa3_pack_subprocess(const std::filesystem::path& work_dir,
                                 const std::vector<std::filesystem::path>& species,
                                 const std::vector<std::uint64_t>& counts, const std::filesystem::path& force_field,
                                 double density, const Raspa3Settings& settings, const StopCheck& should_stop = {},
                                 const Raspa3Templates& templates = {});

}  // namespace cellkit
