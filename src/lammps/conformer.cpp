#include "lammps/conformer.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <numeric>
#include <optional>
#include <utility>

#include "common/ascii.hpp"
#include "common/error.hpp"
#include "common/number_format.hpp"
#include "ff/template_shape.hpp"
#include "ff/type_names.hpp"
#include "lammps/resolve.hpp"

namespace cellkit {
namespace {

constexpr double pi = std::numbers::pi;
constexpr double radians_per_degree = pi / 180.0;
// Atoms without a bond between them this close (Å) overlap under any force field: the simulation
// would start from enormous forces.
constexpr double min_unbonded_distance = 1.0;
constexpr const char* give_coordinates = "give the atoms their coordinates in the file";
constexpr const char* needs_entry = "which a geometry needs: its atoms all sit at one point";

Vec3 add(const Vec3& a, const Vec3& b) { return {a[0] + b[0], a[1] + b[1], a[2] + b[2]}; }
Vec3 sub(const Vec3& a, const Vec3& b) { return {a[0] - b[0], a[1] - b[1], a[2] - b[2]}; }
Vec3 scaled(const Vec3& v, double s) { return {v[0] * s, v[1] * s, v[2] * s}; }
double dot(const Vec3& a, const Vec3& b) { return a[0] * b[0] + a[1] * b[1] + a[2] * b[2]; }
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]};
}

// v over its length, or none for a zero vector; divided by its largest component first so that
// neither tiny nor huge vectors lose their direction.
std::optional<Vec3> unit(const Vec3& v) {
    const double largest = std::max({std::fabs(v[0]), std::fabs(v[1]), std::fabs(v[2])});
    if (!(largest > 0.0) || !std::isfinite(largest)) return std::nullopt;
    const Vec3 s{v[0] / largest, v[1] / largest, v[2] / largest};
    return scaled(s, 1.0 / std::sqrt(dot(s, s)));
}

// Some unit vector perpendicular to the unit vector e: across the axis e is least along.
Vec3 perpendicular(const Vec3& e) {
    Vec3 axis{};
    axis[std::min_element(e.begin(), e.end(), [](double x, double y) { return std::fabs(x) < std::fabs(y); }) -
         e.begin()] = 1.0;
    return *unit(cross(e, axis));
}

// The point `length` from c with bend b-c-point `bend` and dihedral a-b-c-point `dihedral` (radians;
// 0 is a's side). Where a lies on the line b-c, after a linear bend, the dihedral means nothing and
// its zero turns to any side rather than to NaN.
Vec3 place(const Vec3& a, const Vec3& b, const Vec3& c, double length, double bend, double dihedral) {
    const Vec3 e = unit(sub(c, b)).value_or(Vec3{1.0, 0.0, 0.0});
    const Vec3 n = unit(cross(sub(b, a), e)).value_or(perpendicular(e));
    const Vec3 m = cross(n, e);
    const double across = length * std::sin(bend);
    return add(c, add(scaled(e, -length * std::cos(bend)),
                      add(scaled(m, across * std::cos(dihedral)), scaled(n, across * std::sin(dihedral)))));
}

// The turn about an axis from one atom to another that puts `between` between them, when they make
// `first` and `other` with the axis (spherical law of cosines); the nearest turn where none does.
// Where every turn does (either atom on the axis), a third of a circle spreads the siblings.
double turn(double first, double other, double between) {
    const double s = std::sin(first) * std::sin(other);
    if (std::fabs(s) < 1e-12) return 2.0 * pi / 3.0;
    return std::acos(std::clamp((std::cos(between) - std::cos(first) * std::cos(other)) / s, -1.0, 1.0));
}

// The dihedral in [0, pi] of lowest TraPPE energy c1(1+cos p) + c2(1-cos 2p) + c3(1+cos 3p) (c0 only
// shifts it). In x = cos p that is the cubic c1(1+x) + 2c2(1-x^2) + c3(1-3x+4x^3), lowest at x = +-1
// or where its slope vanishes: exact, where a scan is only as good as its step. Ties go to the angle
// nearer trans; the energy is even in p, so of p and -p this gives p.
double lowest_energy_dihedral(const std::vector<double>& c) {
    const double largest = std::max({std::fabs(c[1]), std::fabs(c[2]), std::fabs(c[3])});
    if (largest == 0.0) return pi;
    // Scaled to the largest term: the same minimum, and no sum of huge coefficients overflows.
    const double c1 = c[1] / largest, c2 = c[2] / largest, c3 = c[3] / largest;
    auto energy = [&](double x) {
        return c1 * (1.0 + x) + 2.0 * c2 * (1.0 - x * x) + c3 * (1.0 + (4.0 * x * x - 3.0) * x);
    };
    std::vector<double> xs{-1.0, 1.0};
    const double a = 12.0 * c3, b = -4.0 * c2, k = c1 - 3.0 * c3;  // slope a x^2 + b x + k
    if (a == 0.0) {
        if (b != 0.0) xs.push_back(-k / b);
    } else if (const double d = b * b - 4.0 * a * k; d >= 0.0) {
        const double q = -0.5 * (b + std::copysign(std::sqrt(d), b));  // no cancellation
        xs.push_back(q == 0.0 ? 0.0 : q / a);
        if (q != 0.0) xs.push_back(k / q);
    }
    std::sort(xs.begin(), xs.end());
    double best = -1.0, lowest = energy(-1.0);
    for (const double x : xs) {
        if (x > -1.0 && x <= 1.0 && energy(x) < lowest - 1e-12) best = x, lowest = energy(x);
    }
    return std::acos(best);
}

// The neighbours of each atom, in Connectivity order, once the bonds are known to form a tree: the
// first bond whose atoms the earlier bonds already join closes a ring.
std::vector<std::vector<std::size_t>> tree_neighbours(const Molecule& m, const std::string& shown) {
    const std::size_t n = m.pseudo_atoms.size();
    std::vector<std::size_t> group(n);  // union-find, each group led by its lowest atom
    std::iota(group.begin(), group.end(), std::size_t{0});
    auto leader = [&group](std::size_t a) {
        while (group[a] != a) a = group[a] = group[group[a]];
        return a;
    };
    std::vector<std::vector<std::size_t>> neighbours(n);
    for (const auto& [a, b] : m.connectivity) {
        const std::size_t la = leader(a), lb = leader(b);
        if (la == lb) {
            fail(shown, ": atoms ", a, " and ", b,
                 " close a ring in Connectivity; cellkit builds a geometry only for chains and branched molecules, "
                 "so ",
                 give_coordinates);
        }
        group[std::max(la, lb)] = std::min(la, lb);
        neighbours[a].push_back(b);
        neighbours[b].push_back(a);
    }
    for (std::size_t a = 1; a < n; ++a) {
        if (leader(a) != 0) {
            fail(shown, ": atom ", a,
                 " is not bonded to atom 0 in Connectivity, directly or through other atoms; cellkit builds a "
                 "geometry only for a molecule whose atoms are all joined, so ",
                 give_coordinates);
        }
    }
    return neighbours;
}

// resolve_molecule names only the types of a bond or bend without an entry; here the atoms count.
void check_entries_present(const Molecule& m, const std::string& shown) {
    for (const AtomPair& bond : m.connectivity) {
        const TypeNames<2> names = type_names(m, bond);
        if (find_entry(m.bond_entries, names) == nullptr) {
            fail(shown, ": no Bonds entry for atoms ", bond[0], " and ", bond[1], " (", dashed(names), "), ",
                 needs_entry);
        }
    }
    for (const Angle& angle : derived_angles(m)) {
        const TypeNames<3> names = type_names(m, angle);
        if (find_entry(m.bend_entries, names) == nullptr) {
            fail(shown, ": no Bends entry for atoms ", angle[0], ", ", angle[1], ", ", angle[2], " (", dashed(names),
                 "), ", needs_entry);
        }
    }
}

// Lays the atoms out breadth first from atom 0; entries present and accepted by resolve_molecule.
class Builder {
public:
    Builder(const Molecule& m, const std::string& shown, std::vector<std::vector<std::size_t>> neighbours)
        : m_(m),
          shown_(shown),
          neighbours_(std::move(neighbours)),
          at_(m.pseudo_atoms.size()),
          parent_(m.pseudo_atoms.size(), none) {}

    std::vector<Vec3> build() {
        std::vector<std::size_t> order{0};
        for (std::size_t next = 0; next < order.size(); ++next) {
            const std::size_t j = order[next];
            std::vector<std::size_t> children;
            for (const std::size_t c : neighbours_[j]) {
                if (c == parent_[j]) continue;
                parent_[c] = j;
                children.push_back(c);
                order.push_back(c);
            }
            if (!children.empty()) place_children(j, children);
        }
        return std::move(at_);
    }

    bool bonded(std::size_t a, std::size_t b) const { return parent_[a] == b || parent_[b] == a; }

private:
    static constexpr std::size_t none = static_cast<std::size_t>(-1);

    double length(std::size_t a, std::size_t b) const {
        const TypeNames<2> names = type_names(m_, AtomPair{a, b});
        const BondEntry& entry = *find_entry(m_.bond_entries, names);
        const double r0 =
            equals_ignoring_ascii_case(entry.potential, "FIXED") ? entry.parameters[0] : entry.parameters[1];
        if (!(r0 > 0.0)) {
            fail(shown_, ": the Bonds entry for atoms ", a, " and ", b, " (", dashed(names), ") has r0 ", r0,
                 " \u00c5; a geometry needs bonds of positive length");
        }
        return r0;
    }

    double bend(std::size_t i, std::size_t j, std::size_t k) const {
        return find_entry(m_.bend_entries, type_names(m_, Angle{i, j, k}))->parameters[1] * radians_per_degree;
    }

    double dihedral(const Dihedral& atoms) const {
        const TorsionEntry* entry = find_entry(m_.torsion_entries, type_names(m_, atoms));
        return entry == nullptr ? pi : lowest_energy_dihedral(entry->parameters);
    }

    // The children of j: the first by its bend and dihedral, the others turned about the axis from j
    // to `axis` so that their bends with both the axis atom and the first child hold.
    void place_children(std::size_t j, const std::vector<std::size_t>& children) {
        const std::size_t first = children[0];
        const std::size_t p = parent_[j];
        std::size_t axis = p;
        std::size_t rest = 1;
        if (p == none) {
            // Atom 0 has no parent: its second child stands in for one.
            at_[first] = {length(j, first), 0.0, 0.0};
            if (children.size() < 2) return;
            axis = children[1];
            const double r = length(j, axis), theta = bend(first, j, axis);
            at_[axis] = {r * std::cos(theta), r * std::sin(theta), 0.0};
            rest = 2;
        } else {
            const auto& around = neighbours_[p];
            const auto g = std::find_if(around.begin(), around.end(), [j](std::size_t a) { return a != j; });
            // Without an atom before p, only atom 0 with a single child, the bend goes in the xy plane.
            const Vec3 a = g == around.end() ? add(at_[p], Vec3{0.0, 1.0, 0.0}) : at_[*g];
            const double phi = g == around.end() ? 0.0 : dihedral({*g, p, j, first});
            at_[first] = place(a, at_[p], at_[j], length(j, first), bend(p, j, first), phi);
        }
        const double first_bend = bend(axis, j, first);
        for (std::size_t n = rest; n < children.size(); ++n) {
            const std::size_t c = children[n];
            const double theta = bend(axis, j, c);
            // Alternate sides, so a third neighbour does not land on the second.
            const double delta = turn(first_bend, theta, bend(first, j, c)) * ((n - rest) % 2 == 0 ? 1.0 : -1.0);
            at_[c] = place(at_[first], at_[axis], at_[j], length(j, c), theta, delta);
        }
    }

    const Molecule& m_;
    const std::string& shown_;
    std::vector<std::vector<std::size_t>> neighbours_;
    std::vector<Vec3> at_;
    std::vector<std::size_t> parent_;
};

// Refuses the first pair (by lower atom, then higher) that coincides, or that comes closer than
// min_unbonded_distance without a bond between them.
void check_distances(const std::vector<Vec3>& at, const Builder& builder, const std::string& shown) {
    for (std::size_t a = 0; a < at.size(); ++a) {
        if (!std::isfinite(at[a][0]) || !std::isfinite(at[a][1]) || !std::isfinite(at[a][2])) {
            fail(shown, ": the geometry built from its bonds, bends and torsions puts atom ", a,
                 " beyond the range of numbers; ", give_coordinates);
        }
    }
    const auto close = first_close_pair(at, min_unbonded_distance, [&builder](std::size_t i, std::size_t j) {
        return builder.bonded(i, j) ? min_atom_distance : min_unbonded_distance;
    });
    if (close) {
        const Vec3 d = sub(at[(*close)[0]], at[(*close)[1]]);
        fail(shown, ": the geometry built from its bonds, bends and torsions puts atoms ", (*close)[0], " and ",
             (*close)[1], " ", fmt::Fixed{std::sqrt(dot(d, d)), 3}, " \u00c5 apart; ", give_coordinates);
    }
}

}  // namespace

std::vector<Vec3> build_conformer(const Molecule& molecule, const std::string& shown) {
    auto neighbours = tree_neighbours(molecule, shown);
    check_entries_present(molecule, shown);
    resolve_molecule(molecule);  // refuses entries of unsupported potential or count, as the LAMMPS files would
    if (molecule.pseudo_atoms.size() < 2) return std::vector<Vec3>(molecule.pseudo_atoms.size());
    Builder builder(molecule, shown, std::move(neighbours));
    std::vector<Vec3> at = builder.build();
    check_distances(at, builder, shown);
    return at;
}

}  // namespace cellkit
