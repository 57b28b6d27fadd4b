#include "pipeline/coords_build.hpp"

#include "pipeline/active_species.hpp"
#include "pipeline/species_loading.hpp"

namespace cellkit {

BuildSummary build_from_coords(CoordsBuildArgs args, const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    return write_lammps_outputs({
        .force_field = loaded.force_field,
        .active = selection.active,
        .coords = args.coords,
        .out_dir = std::move(args.out_dir),
        .pair_style = args.pair_style,
        .explicit_lb = args.explicit_lb,
        .skipped = std::move(loaded.skipped),
        .warnings = all_warnings(loaded, selection),
        .extra_warning = std::nullopt,
        .box_len = args.box_len,
        .starter = args.starter,
        .should_stop = should_stop,
    });
}

}  // namespace cellkit
