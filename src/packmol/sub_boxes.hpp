// Cutting the packed box into equal sub-boxes that Packmol fills one by one, and putting the pieces back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/vec3.hpp"
#include "lammps/system.hpp"
#include "packmol/packmol_input.hpp"

namespace cellkit {

struct SubBox {
    PackRegion region;                  // where its molecules' atoms go, Å
    std::vector<std::uint64_t> counts;  // its molecules of each active species
};

// Molecules a sub-box is given at least when the number of sub-boxes is
// chosen from the molecule count. Measured with water at 1000 kg/m³ (CPU time
// of Packmol): 8 sub-boxes of 125 or 250 molecules cost 17-24 % more than one
// run, of 500 the same, of 1,000 18 % less; sub-boxes of 1,000 to 4,000 cost
// 1.2-1.3 ms a molecule, single runs 1.6 ms up to 16,000 and 2.5 ms at 32,000.
// 2,000 stays clear of Packmol's start-up cost and keeps the gaps between
// sub-boxes a small share of the volume.
inline constexpr double molecules_per_sub_box = 2000.0;

// Sub-boxes along each edge for `molecules` molecules: the most that still
// gives every sub-box molecules_per_sub_box molecules, fewer while a sub-box
// would hold less than two of the largest molecule (its `extent` in Å) side
// by side; 1 (a single run) for small boxes.
std::size_t sub_boxes_per_axis(double molecules, double edge, double tolerance, double extent);

// The largest diagonal, in Å, of the box around a template's atoms, over the species:
// no turn of the molecule makes it longer.
double largest_extent(const ActiveSpeciesList& active);

// The cube of `edge` cut into per_axis³ equal sub-boxes, x fastest. The faces
// of the cube keep box_margin() free as a single run does; each inner face
// keeps half the tolerance free on both sides, so molecules of neighbouring
// sub-boxes are the tolerance apart, as within one run. Each count of
// `counts` is divided exactly: every sub-box gets the quotient, and the
// remainders go one by one to the sub-boxes in turn, carrying on from one
// species to the next, so sub-boxes differ by at most one molecule in all.
// Throws Error when there are more sub-boxes than molecules, or when the
// margins and gaps leave a sub-box no room.
std::vector<SubBox> plan_sub_boxes(const std::vector<std::uint64_t>& counts, double edge, double tolerance,
                                   std::size_t per_axis);

// The atoms of the sub-boxes, each packed species after species, in canonical
// order: species in order, then their molecules from sub-box to sub-box, atoms
// in template order. `packed[b]` holds sub-box b's atoms, `atoms[s]` is the
// number of atoms of a molecule of species s.
std::vector<Vec3> canonical_order(const std::vector<SubBox>& boxes, const std::vector<std::vector<Vec3>>& packed,
                                  const std::vector<std::size_t>& atoms);

}  // namespace cellkit
