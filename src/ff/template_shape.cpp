#include "ff/template_shape.hpp"

#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <unordered_map>

#include "common/hash.hpp"

namespace cellkit {
namespace {

double distance_squared(const Vec3& a, const Vec3& b) {
    const double dx = a[0] - b[0], dy = a[1] - b[1], dz = a[2] - b[2];
    return dx * dx + dy * dy + dz * dz;
}

using Cell = std::array<std::int64_t, 3>;

struct CellHash {
    std::size_t operator()(const Cell& c) const noexcept {
        std::size_t seed = 0;
        for (const std::int64_t v : c) hash_combine(seed, v);
        return seed;
    }
};

}  // namespace

std::optional<AtomPair> first_close_pair(const std::vector<Vec3>& points, double reach,
                                         const std::function<double(std::size_t, std::size_t)>& limit) {
    // Cells of the reach: a close pair lies in one cell or in neighbouring ones.
    std::unordered_map<Cell, std::vector<std::size_t>, CellHash> cells;
    auto cell_of = [reach](const Vec3& p) {
        Cell c{};
        for (int k = 0; k < 3; ++k) {
            const double v = std::floor(p[k] / reach);
            c[k] = std::isfinite(v) && std::fabs(v) < 1e15 ? static_cast<std::int64_t>(v) : 0;
        }
        return c;
    };
    std::optional<AtomPair> first;
    for (std::size_t j = 0; j < points.size(); ++j) {
        const Cell c = cell_of(points[j]);
        for (std::int64_t dx = -1; dx <= 1; ++dx) {
            for (std::int64_t dy = -1; dy <= 1; ++dy) {
                for (std::int64_t dz = -1; dz <= 1; ++dz) {
                    const auto it = cells.find({c[0] + dx, c[1] + dy, c[2] + dz});
                    if (it == cells.end()) continue;
                    for (const std::size_t i : it->second) {
                        const double r = limit(i, j);
                        if (distance_squared(points[i], points[j]) < r * r && (!first || AtomPair{i, j} < *first)) {
                            first = AtomPair{i, j};
                        }
                    }
                }
            }
        }
        cells[c].push_back(j);
    }
    return first;
}

std::optional<AtomPair> coincident_atoms(const std::vector<PseudoAtom>& atoms) {
    std::vector<Vec3> points;
    points.reserve(atoms.size());
    for (const PseudoAtom& a : atoms) points.push_back(a.position);
    return first_close_pair(points, min_atom_distance, [](std::size_t, std::size_t) { return min_atom_distance; });
}

std::vector<AtomPair> spanning_bonds(const std::vector<PseudoAtom>& atoms) {
    const std::size_t n = atoms.size();
    std::vector<AtomPair> bonds;
    if (n < 2) return bonds;
    bonds.reserve(n - 1);
    std::vector<bool> joined(n, false);
    std::vector<double> best(n, std::numeric_limits<double>::infinity());
    std::vector<std::size_t> via(n, 0);
    std::size_t next = 0;
    for (std::size_t step = 0; step < n; ++step) {
        joined[next] = true;
        if (step > 0) bonds.push_back({via[next], next});
        std::size_t closest = n;
        for (std::size_t a = 0; a < n; ++a) {
            if (joined[a]) continue;
            const double d = distance_squared(atoms[next].position, atoms[a].position);
            if (d < best[a]) best[a] = d, via[a] = next;
            if (closest == n || best[a] < best[closest]) closest = a;
        }
        next = closest;
    }
    return bonds;
}

}  // namespace cellkit
