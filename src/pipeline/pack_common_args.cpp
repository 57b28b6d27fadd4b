#include "pipeline/pack_common_args.hpp"

namespace cellkit {

BuildSummary write_packed_outputs(const PackCommonArgs& args, LoadedInputs& loaded, ActiveSelection& selection,
                                  PackedResult packed, const StopCheck& should_stop) {
    return write_lammps_outputs({
        .force_field = loaded.force_field,
        .active = selection.active,
        .coords = packed.coords,
        .out_dir = args.out_dir,
        .pair_style = args.pair_style,
        .explicit_lb = args.explicit_lb,
        .skipped = std::move(loaded.skipped),
        .warnings = all_warnings(loaded, selection),
        .extra_warning = std::move(packed.note),
        .box_len = packed.box_len,
        .starter = args.starter,
        .should_stop = should_stop,
    });
}

}  // namespace cellkit
