#include "pipeline/coords_build.hpp"

#include <algorithm>

#include "lammps/coords_check.hpp"
#include "lammps/rigid_shapes.hpp"
#include "pipeline/active_species.hpp"
#include "pipeline/species_loading.hpp"

namespace cellkit {

BuildSummary build_from_coords(CoordsBuildArgs args, const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    check_coords(selection.active, args.coords, args.box);
    std::vector<std::string> warnings = all_warnings(loaded, selection);
    // The caller's coordinates are read in place; rigid molecules need a copy to be reshaped.
    std::vector<Vec3> reshaped;
    const bool any_rigid = std::any_of(selection.active.begin(), selection.active.end(), [](const ActiveSpecies& s) {
        return s.resolved.molecule->rigid && s.resolved.molecule->pseudo_atoms.size() > 1;
    });
    if (any_rigid) {
        reshaped.assign(args.coords.begin(), args.coords.end());
        for (std::string& warning : restore_rigid_shapes(selection.active, reshaped, args.box)) {
            warnings.push_back(std::move(warning));
        }
        args.coords = reshaped;
    }
    return write_lammps_outputs({
        .force_field = loaded.force_field,
        .active = selection.active,
        .coords = args.coords,
        .out_dir = std::move(args.out_dir),
        .pair_style = args.pair_style,
        .explicit_lb = args.explicit_lb,
        .skipped = std::move(loaded.skipped),
        .warnings = std::move(warnings),
        .extra_warning = std::nullopt,
        .box = args.box,
        .starter = args.starter,
        .should_stop = should_stop,
    });
}

}  // namespace cellkit
