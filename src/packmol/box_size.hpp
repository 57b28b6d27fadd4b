// The cubic box that holds the system at a mass density, and the margin kept from its faces.
#pragma once

#include "ff/force_field.hpp"
#include "lammps/system.hpp"

namespace cellkit {

// Sum of molecule mass x count, g/mol. Throws Error naming the molecule and
// type when a pseudo-atom type is not in the force field.
double total_mass(const ActiveSpeciesList& active, const ForceField& force_field);

// Edge in Å of the cube that holds `mass` g/mol at `density` kg/m³.
double box_edge(double mass, double density);

// Distance in Å that packed atoms keep from every face: the tolerance, at
// least 1.5, at most a quarter of the edge (so tiny boxes keep room inside).
double box_margin(double tolerance, double edge);

}  // namespace cellkit
