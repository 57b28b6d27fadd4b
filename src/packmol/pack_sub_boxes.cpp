#include "packmol/pack_sub_boxes.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
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

struct SubBoxRun {
    std::filesystem::path dir;
    ProcessRequest request;
    std::uint64_t atoms = 0;      // of its own molecules
    std::uint64_t obstacles = 0;  // fixed atoms of its neighbours, which Packmol writes after them
    std::vector<Vec3> coords;
    std::optional<std::string> note, log;
};

}  // namespace

namespace {

// The sub-boxes around `box` in the periodic grid, itself left out, each once.
std::vector<std::size_t> neighbours(const Grid& grid, const Grid& cell, std::size_t box) {
    std::vector<std::size_t> out;
    for (int dz = -1; dz <= 1; ++dz) {
        for (int dy = -1; dy <= 1; ++dy) {
            for (int dx = -1; dx <= 1; ++dx) {
                const int d[3] = {dx, dy, dz};
                std::size_t index = 0, stride = 1;
                for (std::size_t axis = 0; axis < 3; ++axis) {
                    const std::size_t n = grid[axis];
                    index += (cell[axis] + n + static_cast<std::size_t>(d[axis] + 1) - 1) % n * stride;
                    stride *= n;
                }
                if (index != box && std::find(out.begin(), out.end(), index) == out.end()) out.push_back(index);
            }
        }
    }
    return out;
}

}  // namespace

PackedSubBoxes pack_sub_boxes(const std::filesystem::path& work_dir, const ActiveSpeciesList& active,
                              const ShapedBox& shaped, double tolerance, const SubBoxSplit& split,
                              const StopCheck& should_stop) {
    PackedSubBoxes result;
    const Box& whole = shaped.box;
    system_totals(active);  // refuses totals beyond 64 bits, as a single run does
    std::vector<std::uint64_t> counts;
    std::vector<std::size_t> atoms;
    double molecules = 0.0;
    for (const ActiveSpecies& species : active) {
        counts.push_back(species.count);
        atoms.push_back(species.resolved.molecule->pseudo_atoms.size());
        molecules += static_cast<double>(species.count);
    }
    const std::size_t jobs = split.jobs != 0 ? split.jobs : available_cores();
    if (!split.grid.empty() && split.grid.size() != 3) {
        fail("a grid of sub-boxes has three numbers (along x, y and z), got ", split.grid.size());
    }
    const Grid grid = !split.grid.empty() ? Grid{split.grid[0], split.grid[1], split.grid[2]}
                                          : choose_grid(molecules, whole, tolerance, largest_extent(active), jobs);
    if (grid == Grid{1, 1, 1} || !shaped.bulk) {  // the single run itself, with its files, messages and note
        PackedBox box = pack_system(work_dir, active, shaped, tolerance, split.seed, should_stop);
        result.coords = std::move(box.coords);
        if (box.note) result.notes.push_back(std::move(*box.note));
        result.log = std::move(box.log);
        result.sub_boxes = 1;
        return result;
    }
    const std::vector<SubBox> boxes = plan_sub_boxes(counts, whole, grid);
    result.sub_boxes = boxes.size();
    const auto started = std::chrono::steady_clock::now();
    auto tell = [&](const std::string& line) {
        if (split.progress) split.progress(line);
    };
    tell(cat("the box is cut into ", grid[0], " \u00d7 ", grid[1], " \u00d7 ", grid[2], " sub-boxes, packed in ",
             round_count(grid), " rounds by up to ", jobs, " Packmol run", jobs == 1 ? "" : "s",
             " at once, each beside the sub-boxes of earlier rounds"));

    // Each fault of a sub-box keeps the single run's words, after the sub-box's name.
    auto in_sub_box = [&](std::size_t b, auto&& step) {
        try {
            return step();
        } catch (const Error& e) {
            fail("sub-box ", b + 1, " of ", boxes.size(), ": ", e.what());
        }
    };
    auto atoms_of = [&](const SubBox& box) {
        std::uint64_t n = 0;
        for (std::size_t s = 0; s < atoms.size(); ++s) n += box.counts[s] * atoms[s];
        return n;
    };

    // The sub-boxes are packed round by round, those of one round side by side: each fills its slice up
    // to the faces, as evenly as one run fills the box, clear of the atoms that its neighbours of
    // earlier rounds put near its faces, which its run holds fixed. Its molecules start anywhere in the
    // slice, up to a share of the tolerance from those atoms (first_guesses()), so no layer along the
    // faces stays empty: Packmol only pushes molecules apart.
    // Packmol's time grows with the box its cells cover, so each sub-box runs in a box of its own:
    // along a cut axis its slice and room for the obstacles on both sides, with a gap of the
    // tolerance so that nothing meets through that box's periodic faces; along an uncut axis the
    // whole periodic edge.
    const double reach = std::fmax(tolerance, 0.0);
    std::vector<SubBoxRun> runs(boxes.size());
    std::vector<Vec3> origin(boxes.size());
    std::vector<bool> settled(boxes.size(), false);
    auto pack_round = [&](const std::vector<std::size_t>& now) {
        for (const std::size_t b : now) {
            SubBoxRun& run = runs[b];
            run.atoms = atoms_of(boxes[b]);
            if (run.atoms == 0) continue;
            Vec3 box{};
            PackRegion local = boxes[b].region;
            for (std::size_t axis = 0; axis < 3; ++axis) {
                const double width = local.hi[axis] - local.lo[axis];
                origin[b][axis] = grid[axis] == 1 ? 0.0 : local.lo[axis] - 1.5 * reach;
                box[axis] = grid[axis] == 1 ? whole[axis] : width + 3 * reach;
                local.lo[axis] -= origin[b][axis];
                local.hi[axis] -= origin[b][axis];
            }
            // Packmol wants fixed atoms inside its box, short of the last thousandth a PDB file can write.
            auto into_local = [&](Vec3 p) {
                for (std::size_t axis = 0; axis < 3; ++axis) {
                    p[axis] -= origin[b][axis];
                    if (grid[axis] == 1) p[axis] -= whole[axis] * std::floor(p[axis] / whole[axis]);
                    p[axis] = std::clamp(p[axis], 0.0, std::floor(box[axis] * 1000.0) / 1000.0);
                }
                return p;
            };
            std::vector<Vec3> obstacles;
            for (const std::size_t n : neighbours(grid, boxes[b].cell, b)) {
                if (!settled[n]) continue;
                for (const Vec3& p : atoms_near(runs[n].coords, boxes[b].region, whole, reach)) {
                    obstacles.push_back(into_local(p));
                }
            }
            run.obstacles = obstacles.size();
            run.dir = work_dir / cat("sub_box_", b + 1);
            in_sub_box(b, [&] {
                if (::mkdir(run.dir.c_str(), 0700) != 0) sys_fail(cat("creating ", display(run.dir)), errno);
                run.request = write_packmol_run(run.dir, active, boxes[b].counts, box,
                                                std::vector<PackRegion>(active.size(), local), tolerance,
                                                (split.seed + b) % (largest_seed + 1), obstacles, should_stop);
            });
        }
        ProcessSet set;                   // ends the runs still going on every way out
        std::vector<std::size_t> box_of;  // the sub-box of each started run, by its id
        std::size_t next = 0;
        for (;;) {
            for (; next < now.size() && set.running() < jobs; ++next) {
                if (runs[now[next]].atoms == 0) continue;
                in_sub_box(now[next], [&] {
                    try {
                        set.start(runs[now[next]].request);
                    } catch (const LaunchError& e) {
                        fail_packmol_launch(e);
                    }
                });
                box_of.push_back(now[next]);
            }
            if (set.running() == 0) break;
            ProcessSet::Finished finished = set.wait_any(should_stop);
            const std::size_t b = box_of[finished.id];
            SubBoxRun& run = runs[b];
            in_sub_box(b, [&] {
                PackmolOutput output = read_packmol_output(run.dir, finished.result, run.atoms, run.obstacles);
                run.coords = std::move(output.coords);
                if (output.note) run.note = std::move(output.note), run.log = std::move(output.log);
            });
            for (Vec3& p : run.coords) {
                for (std::size_t axis = 0; axis < 3; ++axis) p[axis] += origin[b][axis];
            }
            const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
            tell(cat("sub-box ", b + 1, " of ", boxes.size(), " packed (", fmt::Fixed{elapsed.count(), 1}, " s)"));
        }
    };

    for (std::size_t round = 0; round < round_count(grid); ++round) {
        std::vector<std::size_t> now;
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].round == round) now.push_back(b);
        }
        pack_round(now);
        for (const std::size_t b : now) settled[b] = true;
    }

    std::vector<std::vector<Vec3>> pieces;
    for (std::size_t b = 0; b < runs.size(); ++b) {
        pieces.push_back(std::move(runs[b].coords));
        if (!runs[b].note) continue;
        result.notes.push_back(cat("sub-box ", b + 1, " of ", boxes.size(), ": ", *runs[b].note));
        result.log = cat(result.log.value_or(""), "== sub-box ", b + 1, " of ", boxes.size(), " ==\n", *runs[b].log);
    }
    result.coords = canonical_order(boxes, pieces, atoms);
    return result;
}

}  // namespace cellkit
