#include "pipeline/raspa_build.hpp"

#include <cmath>

#include "common/error.hpp"
#include "common/temp_dir.hpp"
#include "pipeline/active_species.hpp"
#include "pipeline/species_loading.hpp"
#include "pipeline/template_geometry.hpp"
#include "raspa/raspa3_pack.hpp"

namespace cellkit {

BuildSummary run_pack_raspa(const PackCommonArgs& args, const Raspa3Settings& settings, const StopCheck& should_stop) {
    LoadedInputs loaded = load_molecules(args.force_field, args.species, args.counts);
    // RASPA3 reads the molecule files itself; a built template goes beside them.
    const std::vector<bool> built = build_missing_templates(loaded, args.species, args.counts);
    Raspa3Templates templates(built.size());
    for (std::size_t i = 0; i < built.size(); ++i) {
        if (!built[i]) continue;
        auto& positions = templates[i].emplace();
        for (const PseudoAtom& atom : loaded.molecules[i].pseudo_atoms) positions.push_back(atom.position);
    }
    ActiveSelection selection = resolve_active(loaded.molecules, args.counts);
    const BoxShape& shape = args.shape;
    if (shape.vacuum != 0.0 || !shape.layers.empty()) {
        fail(shape.layers.empty() ? "a liquid slab" : "a layered box",
             " is built by the Packmol route only (cellkit pack packmol, cellkit.pack.packmol): RASPA3 inserts its "
             "molecules anywhere in the box");
    }
    // The box is checked here, in the Packmol route's words; a cube by density goes to RASPA3 as its
    // density, other boxes as their edges.
    ShapedBox shaped = shape_box(selection.active, args.counts, loaded.force_field, shape);
    check_before_packing(args, loaded, selection, shaped.box);
    Raspa3Settings run = settings;
    run.seed = args.seed;
    if (shape.aspect || shape.edges) run.box = shaped.box.edges;
    check_output_directory(args.out_dir);
    const TempDir work;
    Raspa3Box box = raspa3_pack_subprocess(work.path(), args.species, args.counts, args.force_field,
                                           shape.density.value_or(std::nan("")), run, should_stop, templates);
    return write_packed_outputs(args, loaded, selection,
                                {box.coords, box.box, std::move(box.note), std::move(shaped.text)}, should_stop);
}

}  // namespace cellkit
