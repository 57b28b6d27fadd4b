#include "pipeline/pack_common_args.hpp"

#include "common/error.hpp"
#include "ff/nonbonded_model.hpp"
#include "lammps/rigid_shapes.hpp"
#include "lammps/starter_input.hpp"

namespace cellkit {

namespace {

void check_seed(std::uint64_t seed) {
    if (seed > largest_seed) fail("seed must be between 0 and ", largest_seed, ", got ", seed);
}

}  // namespace

void check_before_packing(const PackCommonArgs& args, const LoadedInputs& loaded, const ActiveSelection& selection,
                          const Box& box) {
    check_seed(args.seed);
    for (const ActiveSpecies& s : selection.active) {
        if (s.resolved.molecule->framework) {
            fail("'", s.resolved.molecule->name,
                 "' is a framework (\"Type\": \"framework\"), which is placed whole, not packed: load it with "
                 "cellkit pack gcmc, or give its atoms' positions to cellkit pack coords");
        }
    }
    if (args.starter) check_starter(args.pair_style, *args.starter, selection.active.size());
    if (args.pair_style == PairSetup::ForceField) resolve_model(loaded.force_field.model, box);
}

BuildSummary write_packed_outputs(const PackCommonArgs& args, LoadedInputs& loaded, ActiveSelection& selection,
                                  PackedResult packed, const StopCheck& should_stop) {
    std::vector<std::string> warnings = all_warnings(loaded, selection);
    for (std::string& warning : restore_rigid_shapes(selection.active, packed.coords, packed.box)) {
        warnings.push_back(std::move(warning));
    }
    return write_lammps_outputs({
        .force_field = loaded.force_field,
        .active = selection.active,
        .coords = packed.coords,
        .out_dir = args.out_dir,
        .pair_style = args.pair_style,
        .explicit_lb = args.explicit_lb,
        .skipped = std::move(loaded.skipped),
        .warnings = std::move(warnings),
        .extra_warning = std::move(packed.note),
        .box = packed.box,
        .layout = std::move(packed.layout),
        .starter = args.starter,
        .packmol_log = std::move(packed.packmol_log),
        .seed = args.seed,
        .should_stop = should_stop,
    });
}

}  // namespace cellkit
