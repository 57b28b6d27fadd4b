// Writes data.lmp and forcefield.lmp for a packed box, and the build summary.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/box.hpp"
#include "common/interrupted.hpp"
#include "common/vec3.hpp"
#include "ff/force_field.hpp"
#include "ff/molecule.hpp"
#include "lammps/pair_setup.hpp"
#include "lammps/starter_input.hpp"
#include "pipeline/active_species.hpp"

namespace cellkit {

struct BuildSummary {
    std::filesystem::path data_path;
    std::filesystem::path forcefield_path;
    std::optional<std::filesystem::path> input_path;  // in.lammps, when asked for
    std::vector<std::string> skipped;
    std::vector<std::string> warnings;
    std::optional<std::string> extra_warning;
    Box box;
    std::string layout;  // a line of its own under the box's when not empty: how the box was filled
    std::optional<std::uint64_t> seed;
    std::uint64_t n_atoms = 0, n_bonds = 0, n_angles = 0, n_dihedrals = 0;
    std::uint64_t n_atom_types = 0, n_bond_types = 0, n_angle_types = 0, n_dihedral_types = 0;
    bool long_range_coulomb = false;
};

// The text the Python entry functions return.
std::string to_text(const BuildSummary& summary);

struct OutputRequest {
    const ForceField& force_field;
    const ActiveSpeciesList& active;
    Vec3View coords;
    std::filesystem::path out_dir;
    OptionalPairSetup pair_style;
    bool explicit_lb = false;
    std::vector<std::string> skipped;
    std::vector<std::string> warnings;
    std::optional<std::string> extra_warning;
    Box box;
    std::string layout = {};
    std::optional<StarterSettings> starter;  // writes in.lammps as well
    std::optional<std::string> packmol_log;  // written as packmol_log_name beside the files
    std::optional<std::uint64_t> seed;       // of the packing, for the summary
    // Polled while data.lmp is written; true ends the build with Interrupted, writing nothing.
    StopCheck should_stop = {};
};

// The whole output of a Packmol run that did not end cleanly, beside the files it packed.
inline constexpr const char* packmol_log_name = "packmol.log";

// Throws Error unless write_lammps_outputs could write into `dir`: the directory itself, or the
// nearest one above it that exists, must be a directory this process may write in. Builds call it
// before packing, which may take minutes.
void check_output_directory(const std::filesystem::path& dir);

// Creates the directory, numbers the types, writes both files (and in.lammps when asked); throws Error.
BuildSummary write_lammps_outputs(OutputRequest request);

}  // namespace cellkit
