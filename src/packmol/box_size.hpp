// The cubic box that holds the system at a mass density.
#pragma once

#include "ff/force_field.hpp"
#include "lammps/system.hpp"

namespace cellkit {

// Sum of molecule mass x count, g/mol. Throws Error naming the molecule and
// type when a pseudo-atom type is not in the force field.
double total_mass(const ActiveSpeciesList& active, const ForceField& force_field);

// Edge in Å of the cube that holds `mass` g/mol at `density` kg/m³.
double box_edge(double mass, double density);

}  // namespace cellkit
