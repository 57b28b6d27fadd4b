#include "packmol/sub_boxes.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

#include "common/error.hpp"
#include "common/number_format.hpp"
#include "packmol/box_size.hpp"

namespace cellkit {
namespace {

// The stretch of slice k of n along one edge that molecules may use.
std::pair<double, double> slice(double edge, double tolerance, std::size_t n, std::size_t k) {
    const double margin = box_margin(tolerance, edge);
    const double gap = std::fmax(tolerance, 0.0) / 2;  // no gap for a NaN or negative tolerance
    const double width = edge / static_cast<double>(n);
    const double lo = k == 0 ? margin : static_cast<double>(k) * width + gap;
    const double hi = k + 1 == n ? edge - margin : static_cast<double>(k + 1) * width - gap;
    return {lo, hi};
}

double narrowest_slice(double edge, double tolerance, std::size_t n) {
    double narrowest = edge;
    for (std::size_t k = 0; k < n; ++k) {
        const auto [lo, hi] = slice(edge, tolerance, n, k);
        narrowest = std::min(narrowest, hi - lo);
    }
    return narrowest;
}

}  // namespace

std::size_t sub_boxes_per_axis(double molecules, double edge, double tolerance, double extent) {
    std::size_t n = 1;
    while (std::pow(static_cast<double>(n + 1), 3) * molecules_per_sub_box <= molecules) ++n;
    while (n > 1 && narrowest_slice(edge, tolerance, n) < 2 * (extent + std::fmax(tolerance, 0.0))) --n;
    return n;
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

std::vector<SubBox> plan_sub_boxes(const std::vector<std::uint64_t>& counts, double edge, double tolerance,
                                   std::size_t per_axis) {
    std::uint64_t molecules = 0;
    for (std::uint64_t c : counts) molecules += c;
    const double total = static_cast<double>(per_axis) * static_cast<double>(per_axis) * static_cast<double>(per_axis);
    if (per_axis == 0 || total > static_cast<double>(molecules)) {
        fail("cannot cut the box into ", per_axis, "x", per_axis, "x", per_axis, " sub-boxes: more than the ",
             molecules, " molecules");
    }
    if (!(narrowest_slice(edge, tolerance, per_axis) > 0.0)) {
        fail("cannot cut the box of edge ", fmt::Fixed{edge, 3}, " \u00c5 into ", per_axis, "x", per_axis, "x",
             per_axis, " sub-boxes: no room inside them at tolerance ", fmt::Fixed{tolerance, 2}, " \u00c5");
    }

    const std::size_t n = per_axis;
    std::vector<SubBox> boxes(n * n * n);
    for (std::size_t b = 0; b < boxes.size(); ++b) {
        const std::size_t cell[3] = {b % n, b / n % n, b / (n * n)};
        for (std::size_t axis = 0; axis < 3; ++axis) {
            std::tie(boxes[b].region.lo[axis], boxes[b].region.hi[axis]) = slice(edge, tolerance, n, cell[axis]);
        }
        boxes[b].counts.assign(counts.size(), 0);
    }
    const std::uint64_t k = boxes.size();
    std::uint64_t next = 0;  // the sub-box that gets the next remainder molecule
    for (std::size_t s = 0; s < counts.size(); ++s) {
        for (SubBox& box : boxes) box.counts[s] = counts[s] / k;
        for (std::uint64_t left = counts[s] % k; left > 0; --left, next = (next + 1) % k) ++boxes[next].counts[s];
    }
    return boxes;
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
