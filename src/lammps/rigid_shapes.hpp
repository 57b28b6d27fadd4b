// Rigid molecules written in their template's exact shape. A packed box keeps only the digits its
// exchange file holds (Packmol's PDB: three decimals), which leaves a linear molecule bent by a
// hair and a SHAKE cluster off its lengths; LAMMPS's rigid-body and constraint fixes start from
// the shape they are given, so each rigid molecule gets its template back, turned and moved onto
// where it was placed.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "common/box.hpp"
#include "common/vec3.hpp"
#include "lammps/system.hpp"

namespace cellkit {

// `from` turned and moved as a whole onto `to` by the least-squares fit of the positions (equal
// weights), into `out`; the three spans are of one length.
void best_fit(std::span<const Vec3> from, std::span<const Vec3> to, std::span<Vec3> out);

// Molecules placed further than this, in Å, from their template's shape are named in a warning:
// that is more than a file's rounding.
inline constexpr double shape_tolerance = 0.01;

// Replaces the atoms of every molecule of each rigid species of `active` in `coords` (canonical
// order) by its template fitted onto them. A molecule's atoms are taken by the nearest image of its
// first atom in the periodic `box`, so a molecule split across the faces comes out whole.
// Returns one warning per species with molecules further than shape_tolerance from the template.
std::vector<std::string> restore_rigid_shapes(const ActiveSpeciesList& active, std::span<Vec3> coords,
                                              const Box& box);

}  // namespace cellkit
