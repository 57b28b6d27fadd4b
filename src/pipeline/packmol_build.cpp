#include "pipeline/packmol_build.hpp"

#include "common/error.hpp"
#include "common/temp_dir.hpp"
#include "packmol/pack_system.hpp"
#include "pipeline/active_species.hpp"
#include "pipeline/species_loading.hpp"
#include "pipeline/template_geometry.hpp"

namespace cellkit {
namespace {

// The starter input a box of this shape can run.
std::optional<StarterSettings> starter_for(const ShapedBox& shaped, std::optional<StarterSettings> starter) {
    if (starter && starter->pressure && shaped.slab) {
        fail("in.lammps would run NPT at ", *starter->pressure, " bar, which closes the vacuum around a liquid slab: "
             "leave out the pressure (in.lammps then runs NVT)");
    }
    if (starter && shaped.layered) starter->pressure_along_z = true;
    return starter;
}

}  // namespace

BuildSummary run_pack_packmol(const PackCommonArgs& args, double tolerance, const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    build_missing_templates(loaded, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    const ShapedBox shaped = shape_box(selection.active, args.counts, loaded.force_field, args.shape);
    PackCommonArgs run = args;
    run.starter = starter_for(shaped, args.starter);
    const TempDir work;
    PackedBox box = pack_system(work.path(), selection.active, shaped, tolerance, should_stop);
    return write_packed_outputs(run, loaded, selection, {box.coords, shaped.box, std::move(box.note), shaped.text},
                                should_stop);
}

BuildSummary run_pack_packmol_sub_boxes(const PackCommonArgs& args, double tolerance, const SubBoxSplit& split,
                                        const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    build_missing_templates(loaded, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    const ShapedBox shaped = shape_box(selection.active, args.counts, loaded.force_field, args.shape);
    PackCommonArgs run = args;
    run.starter = starter_for(shaped, args.starter);
    const TempDir work;
    PackedSubBoxes box = pack_sub_boxes(work.path(), selection.active, shaped, tolerance, split, should_stop);
    // One sub-box is the single run, whose note comes last as there.
    std::optional<std::string> single_note;
    if (box.sub_boxes == 1 && !box.notes.empty()) single_note = std::move(box.notes.front());
    if (box.sub_boxes != 1) {
        for (std::string& note : box.notes) selection.warnings.push_back(std::move(note));
    }
    return write_packed_outputs(run, loaded, selection, {box.coords, shaped.box, std::move(single_note), shaped.text},
                                should_stop);
}

}  // namespace cellkit
