// The arguments that both packing routes take.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "common/interrupted.hpp"
#include "common/seed.hpp"
#include "common/vec3.hpp"
#include "lammps/box_shape.hpp"
#include "lammps/pair_setup.hpp"
#include "pipeline/active_species.hpp"
#include "pipeline/lammps_outputs.hpp"
#include "pipeline/species_loading.hpp"

namespace cellkit {

struct PackCommonArgs {
    std::vector<std::filesystem::path> species;  // one molecule file per species
    std::vector<std::uint64_t> counts;           // molecules per species, by position
    std::filesystem::path force_field = "force_field.json";
    std::filesystem::path out_dir = ".";
    BoxShape shape;  // the density (kg/m³), or the box's edges, and the slab or layers
    bool explicit_lb = false;
    OptionalPairSetup pair_style = PairSetup::LjCut;
    std::optional<StarterSettings> starter;  // in.lammps as well
    std::uint64_t seed = default_seed;       // of Packmol's or RASPA3's random numbers
};

// What a packing route found, handed to the output step.
struct PackedResult {
    std::span<Vec3> coords;  // canonical atom order; rigid molecules are put back into their exact shape
    Box box;
    std::optional<std::string> note;              // the summary's last warning
    std::string layout = {};                      // ShapedBox::text
    std::optional<std::string> packmol_log = {};  // written as packmol.log
};

// Throws Error on what would refuse the output step once the box is packed: the starter's settings,
// and the force field's own model in this box; and on a seed beyond what Packmol reads. Packing may take minutes; these
// take none.
void check_before_packing(const PackCommonArgs& args, const LoadedInputs& loaded, const ActiveSelection& selection,
                          const Box& box);

// Writes data.lmp and forcefield.lmp for a box a packing route built from `loaded` and `selection`.
BuildSummary write_packed_outputs(const PackCommonArgs& args, LoadedInputs& loaded, ActiveSelection& selection,
                                  PackedResult packed, const StopCheck& should_stop);

}  // namespace cellkit
