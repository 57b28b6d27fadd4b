#include "packmol/first_guess.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numbers>
#include <numeric>
#include <random>

#include "common/box.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

// How many random tries a molecule gets before it takes the best of them: 24 left Packmol least
// to do (100,000 waters in sub-boxes: 8 tries 21 s, 24 tries 18 s, 48 tries 23 s).
constexpr int tries_per_molecule = 24;
// The share of the tolerance kept in the first guesses: the full tolerance jams the placing long
// before the density of a liquid, and Packmol closes the rest.
constexpr double clearance_share = 0.8;
// Turns tried at one centre before it counts as a poor try: with one, the layer along a face of the
// region starts at 0.78 of the mean density, with four at 0.92.
constexpr int turns_per_centre = 4;
constexpr std::size_t none = std::numeric_limits<std::size_t>::max();

// Uniform in [0, 1) from the top 53 bits, the same on every standard library.
double uniform(std::mt19937_64& rng) {
    return static_cast<double>(rng() >> 11) * 0x1.0p-53;
}

std::array<Vec3, 3> packmol_rows(const Placement& at) {
    const double cb = std::cos(at.beta), sb = std::sin(at.beta);
    const double cg = std::cos(at.gamma), sg = std::sin(at.gamma);
    const double ct = std::cos(at.teta), st = std::sin(at.teta);
    return {Vec3{-sb * sg * ct + cb * cg, -sb * cg * ct - cb * sg, sb * st},
            Vec3{cb * sg * ct + sb * cg, cb * cg * ct - sb * sg, -cb * st}, Vec3{sg * st, cg * st, ct}};
}

// Atoms binned into cells at least the clearance wide, periodic on every axis of the box.
class AtomCells {
public:
    // A dilute gas would want far more cells than atoms; wider cells find the same neighbours.
    AtomCells(const Vec3& box, double clearance, double atoms) : box_(box) {
        double wanted = 1.0;
        for (std::size_t a = 0; a < 3; ++a) wanted *= std::fmax(1.0, box[a] / clearance);
        const double shrink = std::cbrt(std::fmax(1.0, wanted / std::fmax(64.0, 2.0 * atoms)));
        for (std::size_t a = 0; a < 3; ++a) {
            n_[a] = std::max<std::size_t>(1, static_cast<std::size_t>(box[a] / clearance / shrink));
            side_[a] = box[a] / static_cast<double>(n_[a]);
        }
        head_.assign(n_[0] * n_[1] * n_[2], none);
    }

    void add(const Vec3& p) {
        const Vec3 w = wrapped(p);
        const std::size_t c = index(cell_of(w));
        atoms_.push_back(w);
        next_.push_back(head_[c]);
        head_[c] = atoms_.size() - 1;
    }

    // The sum over the atoms stored within `reach` of p of (reach - distance)², by the nearest image.
    double overlap(const Vec3& p, double reach) const {
        const Vec3 w = wrapped(p);
        const std::array<std::size_t, 3> c = cell_of(w);
        double sum = 0.0;
        std::array<std::size_t, 3> k{};
        // Along an axis of one or two cells the three neighbouring cells are not all different.
        const std::array<int, 3> lo{n_[0] < 3 ? 0 : -1, n_[1] < 3 ? 0 : -1, n_[2] < 3 ? 0 : -1};
        const std::array<int, 3> hi{n_[0] == 1 ? 0 : 1, n_[1] == 1 ? 0 : 1, n_[2] == 1 ? 0 : 1};
        for (int dz = lo[2]; dz <= hi[2]; ++dz) {
            k[2] = (c[2] + n_[2] + dz) % n_[2];
            for (int dy = lo[1]; dy <= hi[1]; ++dy) {
                k[1] = (c[1] + n_[1] + dy) % n_[1];
                for (int dx = lo[0]; dx <= hi[0]; ++dx) {
                    k[0] = (c[0] + n_[0] + dx) % n_[0];
                    for (std::size_t i = head_[index(k)]; i != none; i = next_[i]) {
                        const Vec3 d = box_.nearest({atoms_[i][0] - w[0], atoms_[i][1] - w[1], atoms_[i][2] - w[2]});
                        const double r2 = d[0] * d[0] + d[1] * d[1] + d[2] * d[2];
                        if (r2 < reach * reach) {
                            const double gap = reach - std::sqrt(r2);
                            sum += gap * gap;
                        }
                    }
                }
            }
        }
        return sum;
    }

private:
    Vec3 wrapped(Vec3 p) const {
        for (std::size_t a = 0; a < 3; ++a) p[a] -= box_[a] * std::floor(p[a] / box_[a]);
        return p;
    }
    std::array<std::size_t, 3> cell_of(const Vec3& w) const {
        std::array<std::size_t, 3> c{};
        for (std::size_t a = 0; a < 3; ++a) c[a] = std::min(static_cast<std::size_t>(w[a] / side_[a]), n_[a] - 1);
        return c;
    }
    std::size_t index(const std::array<std::size_t, 3>& c) const { return (c[2] * n_[1] + c[1]) * n_[0] + c[0]; }

    Box box_;
    Vec3 side_{};
    std::array<std::size_t, 3> n_{};
    std::vector<std::size_t> head_, next_;
    std::vector<Vec3> atoms_;
};

// How far the atoms lie outside the region, squared and summed: a try half outside is a poor one.
double outside(const std::vector<Vec3>& atoms, const PackRegion& region) {
    double sum = 0.0;
    for (const Vec3& p : atoms) {
        for (std::size_t a = 0; a < 3; ++a) {
            const double d = std::max({region.lo[a] - p[a], p[a] - region.hi[a], 0.0});
            sum += d * d;
        }
    }
    return sum;
}

std::vector<Vec3> centred(const std::vector<Vec3>& atoms) {
    const Vec3 c = centroid(atoms);
    std::vector<Vec3> out = atoms;
    for (Vec3& p : out) {
        for (std::size_t a = 0; a < 3; ++a) p[a] -= c[a];
    }
    return out;
}

std::vector<Vec3> turned(const std::vector<Vec3>& body, const Placement& at) {
    const std::array<Vec3, 3> v = packmol_rows(at);
    std::vector<Vec3> out(body.size());
    for (std::size_t k = 0; k < body.size(); ++k) {
        for (std::size_t a = 0; a < 3; ++a) {
            out[k][a] = at.centre[a] + body[k][0] * v[0][a] + body[k][1] * v[1][a] + body[k][2] * v[2][a];
        }
    }
    return out;
}

}  // namespace

std::vector<Vec3> placed_atoms(const std::vector<Vec3>& atoms, const Placement& at) {
    return turned(centred(atoms), at);
}

std::vector<std::vector<Placement>> first_guesses(const std::vector<GuessSpecies>& species, const Vec3& box,
                                                  double tolerance, const std::vector<Vec3>& obstacles,
                                                  std::uint64_t seed, const StopCheck& should_stop) {
    const double clearance = clearance_share * tolerance;
    std::vector<std::vector<Placement>> out(species.size());
    if (!(clearance > 0.0)) return out;
    double atoms = static_cast<double>(obstacles.size());
    for (const GuessSpecies& sp : species)
        atoms += static_cast<double>(sp.count) * static_cast<double>(sp.atoms.size());
    AtomCells cells(box, clearance, atoms);
    for (const Vec3& p : obstacles) cells.add(p);
    std::mt19937_64 rng(seed);

    std::vector<std::size_t> order(species.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&](std::size_t a, std::size_t b) { return species[a].atoms.size() > species[b].atoms.size(); });
    for (const std::size_t s : order) {
        const GuessSpecies& sp = species[s];
        const std::vector<Vec3> body = centred(sp.atoms);
        out[s].reserve(sp.count);
        for (std::uint64_t m = 0; m < sp.count; ++m) {
            // A million atoms take seconds to place.
            if (m % 4096 == 0 && should_stop && should_stop()) throw Interrupted();
            Placement best;
            std::vector<Vec3> best_atoms;
            double best_cost = std::numeric_limits<double>::infinity();
            for (int t = 0; t < tries_per_molecule && best_cost > 0.0; ++t) {
                Placement at;
                for (std::size_t a = 0; a < 3; ++a) {
                    at.centre[a] = sp.region.lo[a] + uniform(rng) * (sp.region.hi[a] - sp.region.lo[a]);
                }
                // Near a face of the region few turns keep every atom inside; turning the molecule
                // again there, rather than moving it, keeps the faces as full as the rest.
                std::vector<Vec3> atoms;
                double cost = 0.0;
                for (int turn = 0; turn < turns_per_centre && (turn == 0 || cost > 0.0); ++turn) {
                    // Uniform over all turns: the two turns about z uniform, the cosine of the tilt too.
                    at.beta = 2.0 * std::numbers::pi * uniform(rng);
                    at.gamma = 2.0 * std::numbers::pi * uniform(rng);
                    at.teta = std::acos(1.0 - 2.0 * uniform(rng));
                    atoms = turned(body, at);
                    cost = outside(atoms, sp.region);
                }
                for (const Vec3& p : atoms) cost += cells.overlap(p, clearance);
                if (cost < best_cost) best_cost = cost, best = at, best_atoms = std::move(atoms);
            }
            for (const Vec3& p : best_atoms) cells.add(p);
            out[s].push_back(best);
        }
    }
    return out;
}

std::string packmol_restart(const std::vector<Placement>& placements) {
    std::string out;
    for (const Placement& at : placements) {
        for (double v : {at.centre[0], at.centre[1], at.centre[2], at.beta, at.gamma, at.teta}) {
            fmt::append_fixed(out, v, 6);
            out.push_back(' ');
        }
        out.back() = '\n';
    }
    return out;
}

}  // namespace cellkit
