#include "pipeline/raspa_build.hpp"

#include "common/temp_dir.hpp"
#include "pipeline/active_species.hpp"
#include "pipeline/species_loading.hpp"
#include "raspa/raspa3_pack.hpp"

namespace cellkit {

BuildSummary run_pack_raspa(const PackCommonArgs& args, const Raspa3Settings& settings, const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    const TempDir work;
    Raspa3Box box = raspa3_pack_subprocess(work.path(), args.species, args.counts, args.force_field, args.density,
                                           settings, should_stop);
    return write_lammps_outputs({
        .force_field = loaded.force_field,
        .active = selection.active,
        .coords = box.coords,
        .out_dir = args.out_dir,
        .pair_style = args.pair_style,
        .explicit_lb = args.explicit_lb,
        .skipped = std::move(loaded.skipped),
        .warnings = std::move(selection.warnings),
        .extra_warning = std::move(box.note),
        .box_len = box.box_len,
        .should_stop = should_stop,
    });
}

}  // namespace cellkit
