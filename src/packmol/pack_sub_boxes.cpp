#include "packmol/pack_sub_boxes.hpp"

#include <sys/stat.h>

#include <cerrno>
#include <optional>

#include "common/error.hpp"
#include "common/file_io.hpp"
#include "common/number_format.hpp"
#include "common/process.hpp"
#include "packmol/pack_system.hpp"
#include "packmol/sub_boxes.hpp"

namespace cellkit {

using fmt::cat;

namespace {

// Packmol's own default seed for the first sub-box, the next ones for the rest.
constexpr std::uint64_t first_seed = 1234567;

struct SubBoxRun {
    std::filesystem::path dir;
    ProcessRequest request;
    std::uint64_t atoms = 0;
    std::vector<Vec3> coords;
    std::optional<std::string> note;
};

}  // namespace

PackedSubBoxes pack_sub_boxes(const std::filesystem::path& work_dir, const ActiveSpeciesList& active,
                              const ForceField& force_field, double density, double tolerance, const SubBoxSplit& split,
                              const StopCheck& should_stop) {
    PackedSubBoxes result;
    result.edge = packed_box_edge(active, force_field, density);
    system_totals(active);  // refuses totals beyond 64 bits, as a single run does
    std::vector<std::uint64_t> counts;
    std::vector<std::size_t> atoms;
    double molecules = 0.0;
    for (const ActiveSpecies& species : active) {
        counts.push_back(species.count);
        atoms.push_back(species.resolved.molecule->pseudo_atoms.size());
        molecules += static_cast<double>(species.count);
    }
    const std::size_t per_axis = split.per_axis != 0
                                     ? split.per_axis
                                     : sub_boxes_per_axis(molecules, result.edge, tolerance, largest_extent(active));
    if (per_axis == 1) {  // the single run itself, with its files, messages and note
        PackedBox box = pack_system(work_dir, active, force_field, density, tolerance, should_stop);
        result.coords = std::move(box.coords);
        if (box.note) result.notes.push_back(std::move(*box.note));
        result.sub_boxes = 1;
        return result;
    }
    const std::vector<SubBox> boxes = plan_sub_boxes(counts, result.edge, tolerance, per_axis);
    result.sub_boxes = boxes.size();

    // Each fault of a sub-box keeps the single run's words, after the sub-box's name.
    auto in_sub_box = [&](std::size_t b, auto&& step) {
        try {
            return step();
        } catch (const Error& e) {
            fail("sub-box ", b + 1, " of ", boxes.size(), ": ", e.what());
        }
    };

    std::vector<SubBoxRun> runs(boxes.size());
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        for (std::size_t s = 0; s < atoms.size(); ++s) runs[b].atoms += boxes[b].counts[s] * atoms[s];
        if (runs[b].atoms == 0) continue;
        runs[b].dir = work_dir / cat("sub_box_", b + 1);
        in_sub_box(b, [&] {
            if (::mkdir(runs[b].dir.c_str(), 0700) != 0) sys_fail(cat("creating ", display(runs[b].dir)), errno);
            runs[b].request =
                write_packmol_run(runs[b].dir, active, boxes[b].counts, boxes[b].region, tolerance, first_seed + b);
        });
    }

    const std::size_t jobs = split.jobs != 0 ? split.jobs : available_cores();
    ProcessSet set;                   // ends the runs still going on every way out
    std::vector<std::size_t> box_of;  // the sub-box of each started run, by its id
    std::size_t next = 0;
    for (;;) {
        for (; next < runs.size() && set.running() < jobs; ++next) {
            if (runs[next].atoms == 0) continue;
            in_sub_box(next, [&] {
                try {
                    set.start(runs[next].request);
                } catch (const LaunchError& e) {
                    fail_packmol_launch(e);
                }
            });
            box_of.push_back(next);
        }
        if (set.running() == 0) break;
        ProcessSet::Finished finished = set.wait_any(should_stop);
        SubBoxRun& run = runs[box_of[finished.id]];
        in_sub_box(box_of[finished.id], [&] {
            PackmolOutput output = read_packmol_output(run.dir, finished.result, run.atoms);
            run.coords = std::move(output.coords);
            run.note = std::move(output.note);
        });
    }

    std::vector<std::vector<Vec3>> packed;
    for (std::size_t b = 0; b < runs.size(); ++b) {
        packed.push_back(std::move(runs[b].coords));
        if (runs[b].note) result.notes.push_back(cat("sub-box ", b + 1, " of ", boxes.size(), ": ", *runs[b].note));
    }
    result.coords = canonical_order(boxes, packed, atoms);
    return result;
}

}  // namespace cellkit
