// Positions a caller gives, checked against the molecules they are said to be: the right number of
// atoms, and each molecule in its template's shape (rigid) or with bonds of sensible lengths
// (flexible). A file in another atom order builds a box that LAMMPS reads without a word.
#pragma once

#include <span>

#include "common/box.hpp"
#include "common/vec3.hpp"
#include "lammps/system.hpp"

namespace cellkit {

// A rigid molecule's distance may differ from its template's by this much (Å) plus
// rigid_distance_share of it: files round, and a geometry of another source differs a little.
inline constexpr double rigid_distance_slack = 0.1;
inline constexpr double rigid_distance_share = 0.1;
// A flexible molecule's bond may be this many times shorter or longer than its length at rest, or
// as long as its template draws it (within the rigid slack).
inline constexpr double bond_length_factor = 2.0;

// Throws Error, naming the first molecule that fails (its species, its place, its atoms and the
// distance), when `coords` (species -> molecule -> atom order) do not hold the atoms of `active`.
// Distances are taken by the nearest image in the periodic `box`, so atoms wrapped one by one pass.
void check_coords(const ActiveSpeciesList& active, std::span<const Vec3> coords, const Box& box);

}  // namespace cellkit
