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
    return write_packed_outputs(args, loaded, selection, {box.coords, box.box_len, std::move(box.note)}, should_stop);
}

}  // namespace cellkit
