#include "pipeline/packmol_build.hpp"

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "common/temp_dir.hpp"
#include "packmol/pack_system.hpp"
#include "pipeline/active_species.hpp"
#include "pipeline/species_loading.hpp"
#include "pipeline/template_geometry.hpp"

namespace cellkit {
namespace {

using fmt::cat;

// The starter input a box of this shape can run.
std::optional<StarterSettings> starter_for(const ShapedBox& shaped, std::optional<StarterSettings> starter) {
    if (starter && starter->pressure && shaped.slab) {
        fail("in.lammps would run NPT at ", *starter->pressure,
             " bar, which closes the vacuum around a liquid slab: "
             "leave out the pressure (in.lammps then runs NVT)");
    }
    if (starter && shaped.layered) starter->pressure_along_z = true;
    return starter;
}

// A note of Packmol's, with where its whole log goes.
std::string with_log(const std::string& note, const PackCommonArgs& args) {
    return cat(note, " (whole log: ", display(args.out_dir / packmol_log_name), ")");
}

// What both Packmol builds do before packing: load and check the inputs, lay out the box, and refuse
// what the output step would refuse.
struct Prepared {
    LoadedInputs loaded;
    ActiveSelection selection;
    ShapedBox shaped;
    PackCommonArgs run;  // the arguments, with the starter this box can run
};

Prepared prepare(const PackCommonArgs& args) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    build_missing_templates(loaded, args.species, args.counts);
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    ShapedBox shaped = shape_box(selection.active, args.counts, loaded.force_field, args.shape);
    check_before_packing(args, loaded, selection, shaped.box);
    PackCommonArgs run = args;
    run.starter = starter_for(shaped, args.starter);
    check_output_directory(args.out_dir);
    return {std::move(loaded), std::move(selection), std::move(shaped), std::move(run)};
}

}  // namespace

BuildSummary run_pack_packmol(const PackCommonArgs& args, double tolerance, const StopCheck& should_stop) {
    Prepared p = prepare(args);
    const TempDir work;
    PackedBox box = pack_system(work.path(), p.selection.active, p.shaped, tolerance, args.seed, should_stop);
    std::optional<std::string> note;
    if (box.note) note = with_log(*box.note, args);
    return write_packed_outputs(p.run, p.loaded, p.selection,
                                {box.coords, p.shaped.box, std::move(note), p.shaped.text, std::move(box.log)},
                                should_stop);
}

BuildSummary run_pack_packmol_sub_boxes(const PackCommonArgs& args, double tolerance, const SubBoxSplit& split,
                                        const StopCheck& should_stop) {
    Prepared p = prepare(args);
    const TempDir work;
    SubBoxSplit seeded = split;
    seeded.seed = args.seed;  // the build's seed, which the summary prints
    PackedSubBoxes box = pack_sub_boxes(work.path(), p.selection.active, p.shaped, tolerance, seeded, should_stop);
    // One sub-box is the single run, whose note comes last as there.
    std::optional<std::string> single_note;
    if (box.sub_boxes == 1 && !box.notes.empty()) single_note = with_log(box.notes.front(), args);
    if (box.sub_boxes != 1) {
        for (const std::string& note : box.notes) p.selection.warnings.push_back(with_log(note, args));
    }
    return write_packed_outputs(p.run, p.loaded, p.selection,
                                {box.coords, p.shaped.box, std::move(single_note), p.shaped.text, std::move(box.log)},
                                should_stop);
}

}  // namespace cellkit
