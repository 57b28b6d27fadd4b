#include "packmol/sub_boxes.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "common/error.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

// Packing a sub-box beside the fixed atoms of its neighbours costs Packmol a little more than packing
// it alone (measured 1.03 for 5,000 waters, up to 1.3 for 12,500); and every cut axis adds walls
// whose crowded layers slow the runs, the more so the thinner the slices. The walls' share is fitted
// to builds of 20,000, 100,000 and 333,334 waters on two cores.
constexpr double beside_share = 1.05;
constexpr double wall_share = 2.5;  // per cut axis, times the tolerance over the slice width

// The estimated seconds of a grid with `jobs` Packmol runs at once.
double grid_seconds(const Grid& grid, double molecules, const Box& box, double tolerance, double jobs) {
    double boxes = 1.0, walls = 1.0;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const auto n = static_cast<double>(grid[axis]);
        boxes *= n;
        if (n > 1) walls += wall_share * tolerance * n / box[axis];
    }
    const double rounds = static_cast<double>(round_count(grid));
    const double run = walls * packmol_seconds(molecules / boxes);
    // Round by round, the sub-boxes of a round side by side.
    return std::ceil(boxes / rounds / jobs) * run * (1.0 + (rounds - 1) * beside_share);
}

}  // namespace

double packmol_seconds(double molecules) {
    return 0.03 + molecules * (0.16e-3 + 0.22e-3 * (1.0 - std::exp(-molecules / 40'000.0)));
}

std::size_t round_count(const Grid& grid) {
    std::size_t rounds = 1;
    for (const std::size_t n : grid) rounds *= n > 1 ? 2 : 1;
    return rounds;
}

Grid choose_grid(double molecules, const Box& box, double tolerance, double extent, std::size_t jobs) {
    const double narrowest = 2 * (extent + std::fmax(tolerance, 0.0));
    // The axes from the longest edge to the shortest, x before y before z among equal ones.
    std::array<std::size_t, 3> axes{0, 1, 2};
    std::stable_sort(axes.begin(), axes.end(), [&](std::size_t a, std::size_t b) { return box[a] > box[b]; });
    std::array<std::vector<std::size_t>, 3> cuts;  // the counts each axis, in that order, may take
    for (std::size_t k = 0; k < 3; ++k) {
        const double edge = box[axes[k]];
        const double most = std::isfinite(narrowest) && narrowest > 0.0 ? std::floor(edge / narrowest) : 1.0;
        const std::size_t top = most >= 2.0 ? static_cast<std::size_t>(std::fmin(most, 1e4)) : 1;
        cuts[k].push_back(1);
        for (std::size_t n = 2; n <= top; n += 2) cuts[k].push_back(n);
    }

    Grid best{1, 1, 1};
    double best_seconds = std::numeric_limits<double>::infinity();
    const double runs_at_once = static_cast<double>(std::max<std::size_t>(jobs, 1));
    for (const std::size_t n0 : cuts[0]) {
        for (const std::size_t n1 : cuts[1]) {
            if (n1 > n0) break;
            for (const std::size_t n2 : cuts[2]) {
                if (n2 > n1) break;
                const double boxes = static_cast<double>(n0) * static_cast<double>(n1) * static_cast<double>(n2);
                if (boxes < 2 || molecules / boxes < min_molecules_per_sub_box) continue;
                Grid grid{};
                grid[axes[0]] = n0, grid[axes[1]] = n1, grid[axes[2]] = n2;
                const double seconds = grid_seconds(grid, molecules, box, std::fmax(tolerance, 0.0), runs_at_once);
                if (seconds < best_seconds) best = grid, best_seconds = seconds;
            }
        }
    }
    // The best split has to beat the single run clearly: the fit is rough, and a single run gives the
    // most even fluid.
    if (!(best_seconds < split_must_beat * packmol_seconds(molecules))) return {1, 1, 1};
    return best;
}

double largest_extent(const ActiveSpeciesList& active) {
    double largest = 0.0;
    for (const ActiveSpecies& species : active) {
        const auto& atoms = species.resolved.molecule->pseudo_atoms;
        if (atoms.empty()) continue;
        Vec3 lo = atoms.front().position, hi = lo;
        for (const PseudoAtom& atom : atoms) {
            for (std::size_t axis = 0; axis < 3; ++axis) {
                lo[axis] = std::min(lo[axis], atom.position[axis]);
                hi[axis] = std::max(hi[axis], atom.position[axis]);
            }
        }
        largest = std::max(largest, std::hypot(hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]));
    }
    return largest;
}

std::vector<SubBox> plan_sub_boxes(const std::vector<std::uint64_t>& counts, const Box& whole, const Grid& grid) {
    std::uint64_t molecules = 0;
    for (std::uint64_t c : counts) molecules += c;
    for (const std::size_t n : grid) {
        if (n == 0 || (n > 1 && n % 2 != 0)) {
            fail("cannot cut the box into ", grid[0], "x", grid[1], "x", grid[2],
                 " sub-boxes: each axis takes 1 or an even number, so that the sub-boxes packed at once touch none of "
                 "each other");
        }
    }
    const double total = static_cast<double>(grid[0]) * static_cast<double>(grid[1]) * static_cast<double>(grid[2]);
    if (total > static_cast<double>(molecules)) {
        fail("cannot cut the box into ", grid[0], "x", grid[1], "x", grid[2], " sub-boxes: more than the ", molecules,
             " molecules");
    }

    std::vector<SubBox> boxes(grid[0] * grid[1] * grid[2]);
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        SubBox& box = boxes[b];
        box.cell = {b % grid[0], b / grid[0] % grid[1], b / (grid[0] * grid[1])};
        std::size_t bit = 0;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double edge = whole[axis];
            const double width = edge / static_cast<double>(grid[axis]);
            box.region.lo[axis] = static_cast<double>(box.cell[axis]) * width;
            // The last slice ends on the face itself, not on a sum that may fall short of it.
            box.region.hi[axis] = box.cell[axis] + 1 == grid[axis] ? edge : box.region.lo[axis] + width;
            if (grid[axis] > 1) box.round |= (box.cell[axis] % 2) << bit++;
        }
        box.counts.assign(counts.size(), 0);
    }
    const std::uint64_t k = boxes.size();
    std::uint64_t next = 0;  // the sub-box that gets the next remainder molecule
    for (std::size_t s = 0; s < counts.size(); ++s) {
        for (SubBox& box : boxes) box.counts[s] = counts[s] / k;
        for (std::uint64_t left = counts[s] % k; left > 0; --left, next = (next + 1) % k) ++boxes[next].counts[s];
    }
    return boxes;
}

double distance_to(const Vec3& atom, const PackRegion& region, const Box& box) {
    double squared = 0.0;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double edge = box[axis];
        // Of the atom and its images one edge either way, the one nearest the region.
        double best = std::numeric_limits<double>::infinity();
        for (const double shift : {0.0, -edge, edge}) {
            const double x = atom[axis] + shift;
            best = std::fmin(best, std::fmax(std::fmax(region.lo[axis] - x, x - region.hi[axis]), 0.0));
        }
        squared += best * best;
    }
    return std::sqrt(squared);
}

std::vector<Vec3> atoms_near(const std::vector<Vec3>& atoms, const PackRegion& region, const Box& box, double reach) {
    std::vector<Vec3> near;
    for (const Vec3& atom : atoms) {
        if (!(distance_to(atom, region, box) < reach)) continue;
        Vec3 image = atom;
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double edge = box[axis];
            double best = std::numeric_limits<double>::infinity();
            for (const double shift : {0.0, -edge, edge}) {
                const double x = atom[axis] + shift;
                const double outside = std::fmax(std::fmax(region.lo[axis] - x, x - region.hi[axis]), 0.0);
                if (outside < best) best = outside, image[axis] = x;
            }
        }
        near.push_back(image);
    }
    return near;
}

std::vector<Vec3> canonical_order(const std::vector<SubBox>& boxes, const std::vector<std::vector<Vec3>>& packed,
                                  const std::vector<std::size_t>& atoms) {
    std::size_t total = 0;
    for (const auto& p : packed) total += p.size();
    std::vector<Vec3> out;
    out.reserve(total);
    std::vector<std::size_t> taken(boxes.size(), 0);  // atoms of each sub-box already moved
    for (std::size_t s = 0; s < atoms.size(); ++s) {
        for (std::size_t b = 0; b < boxes.size(); ++b) {
            const std::size_t n = boxes[b].counts[s] * atoms[s];
            const auto first = packed[b].begin() + static_cast<std::ptrdiff_t>(taken[b]);
            out.insert(out.end(), first, first + static_cast<std::ptrdiff_t>(n));
            taken[b] += n;
        }
    }
    return out;
}

}  // namespace cellkit
