#include "pipeline/raspa_build.hpp"

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
    const TempDir work;
    Raspa3Box box = raspa3_pack_subprocess(work.path(), args.species, args.counts, args.force_field, args.density,
                                           settings, should_stop, templates);
    return write_packed_outputs(args, loaded, selection, {box.coords, box.box_len, std::move(box.note)}, should_stop);
}

}  // namespace cellkit
