#include "lammps/coords_check.hpp"

#include <cmath>
#include <string>

#include "common/error.hpp"
#include "common/number_format.hpp"

namespace cellkit {
namespace {

using fmt::cat;
using fmt::Fixed;

double distance(const Vec3& a, const Vec3& b, const Box& box) {
    const Vec3 d = box.nearest({b[0] - a[0], b[1] - a[1], b[2] - a[2]});
    return std::hypot(d[0], d[1], d[2]);
}

std::string atom_name(const Molecule& molecule, std::size_t i) {
    return cat(i + 1, " (", molecule.pseudo_atoms[i].type, ")");
}

}  // namespace

void check_coords(const ActiveSpeciesList& active, std::span<const Vec3> coords, const Box& box) {
    const std::uint64_t expected = system_totals(active).atoms;
    if (coords.size() != expected) {
        std::string parts;
        for (const ActiveSpecies& s : active) {
            parts.append(parts.empty() ? "" : " + ")
                .append(cat(s.count, " ", s.resolved.molecule->name, " of ", s.resolved.molecule->pseudo_atoms.size()));
        }
        fail("the coordinates hold ", coords.size(), " atoms, but the species and counts make ", expected, " (", parts,
             ")");
    }
    std::uint64_t at = 0;  // the molecule's first atom among the coordinates
    for (const ActiveSpecies& species : active) {
        const Molecule& molecule = *species.resolved.molecule;
        const std::size_t n = molecule.pseudo_atoms.size();
        for (std::uint64_t m = 0; m < species.count; ++m, at += n) {
            auto where = [&] {
                return cat("molecule ", m + 1, " of '", molecule.name, "' (atoms ", at + 1, "-", at + n,
                           " of the coordinates): ");
            };
            const auto p = [&](std::size_t i) { return coords[static_cast<std::size_t>(at) + i]; };
            // A coordinate that is not a number is left for the output check to name.
            bool finite = true;
            for (std::size_t i = 0; i < n; ++i) finite = finite && std::isfinite(p(i)[0] + p(i)[1] + p(i)[2]);
            if (!finite) continue;
            if (molecule.rigid) {
                for (std::size_t i = 0; i < n; ++i) {
                    for (std::size_t j = i + 1; j < n; ++j) {
                        const double want =
                            distance(molecule.pseudo_atoms[i].position, molecule.pseudo_atoms[j].position, {});
                        const double got = distance(p(i), p(j), box);
                        if (!(std::fabs(got - want) <= rigid_distance_slack + rigid_distance_share * want)) {
                            fail(where(), "atoms ", atom_name(molecule, i), " and ", atom_name(molecule, j), " are ",
                                 Fixed{got, 3}, " \u00c5 apart, but ", Fixed{want, 3},
                                 " \u00c5 in the rigid template; are the coordinates in species, molecule, atom "
                                 "order, as the molecule files and counts give it?");
                        }
                    }
                }
                continue;
            }
            for (const BondRecord& b : species.resolved.bonds) {
                const double drawn =
                    distance(molecule.pseudo_atoms[b.i].position, molecule.pseudo_atoms[b.j].position, {});
                const double rest = b.bond.r0 > 0.0 ? b.bond.r0 : drawn;
                if (!(rest > 0.0)) continue;
                const double got = distance(p(b.i), p(b.j), box);
                // As long as the template draws it, or within the factor of its length at rest.
                const bool as_drawn = std::fabs(got - drawn) <= rigid_distance_slack + rigid_distance_share * drawn;
                if (!as_drawn && !(got <= bond_length_factor * rest && got * bond_length_factor >= rest)) {
                    fail(where(), "the bond of atoms ", atom_name(molecule, b.i), " and ", atom_name(molecule, b.j),
                         " is ", Fixed{got, 3}, " \u00c5 long, but ", Fixed{rest, 3},
                         " \u00c5 at rest; are the coordinates in species, molecule, atom order, as the molecule "
                         "files and counts give it?");
                }
            }
        }
    }
}

}  // namespace cellkit
