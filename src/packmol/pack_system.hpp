// Packs the active species into a cubic box at a mass density by running Packmol.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/interrupted.hpp"
#include "common/vec3.hpp"
#include "ff/force_field.hpp"
#include "lammps/system.hpp"

namespace cellkit {

struct PackedBox {
    std::vector<Vec3> coords;  // canonical atom order, as Packmol writes it
    double edge = 0.0;         // Å
    // Set when Packmol exited unsuccessfully but left a usable box: its status and output.
    std::optional<std::string> note;
};

// Writes the templates and pack.inp into `work_dir` (existing, empty), runs
// `packmol` there with the script on its standard input, and reads simbox.pdb.
// Throws Error with the first fault; throws Interrupted (Packmol ended) when
// `should_stop` asks for it. The files stay in `work_dir` for the caller to remove.
PackedBox pack_system(const std::filesystem::path& work_dir, const ActiveSpeciesList& active,
                      const ForceField& force_field, double density, double tolerance,
                      const StopCheck& should_stop = {});

// "packmol exited with status Some(N):\nstdout:\n...\nstderr:\n..." (None for a signal).
std::string packmol_exit_note(const std::optional<int>& exit_code, const std::string& out, const std::string& err);

}  // namespace cellkit
