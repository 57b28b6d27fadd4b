#include "pipeline/packmol_build.hpp"

#include "common/temp_dir.hpp"
#include "packmol/pack_system.hpp"
#include "pipeline/active_species.hpp"
#include "pipeline/species_loading.hpp"

namespace cellkit {

BuildSummary run_pack_packmol(const PackCommonArgs& args, double tolerance, const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    const TempDir work;
    PackedBox box =
        pack_system(work.path(), selection.active, loaded.force_field, args.density, tolerance, should_stop);
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
        .box_len = box.edge,
        .should_stop = should_stop,
    });
}

BuildSummary run_pack_packmol_sub_boxes(const PackCommonArgs& args, double tolerance, const SubBoxSplit& split,
                                        const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    const TempDir work;
    PackedSubBoxes box =
        pack_sub_boxes(work.path(), selection.active, loaded.force_field, args.density, tolerance, split, should_stop);
    // One sub-box is the single run, whose note comes last as there.
    std::optional<std::string> single_note;
    if (box.sub_boxes == 1 && !box.notes.empty()) single_note = std::move(box.notes.front());
    if (box.sub_boxes != 1) {
        for (std::string& note : box.notes) selection.warnings.push_back(std::move(note));
    }
    return write_lammps_outputs({
        .force_field = loaded.force_field,
        .active = selection.active,
        .coords = box.coords,
        .out_dir = args.out_dir,
        .pair_style = args.pair_style,
        .explicit_lb = args.explicit_lb,
        .skipped = std::move(loaded.skipped),
        .warnings = std::move(selection.warnings),
        .extra_warning = std::move(single_note),
        .box_len = box.edge,
    });
}

}  // namespace cellkit
