// Composes forcefield.lmp: masses, pair style, coefficients, charges and citations.
#pragma once

#include <string>

#include "ff/force_field.hpp"
#include "lammps/pair_setup.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

// The complete file text (UTF-8); energies converted from kelvin to kcal/mol. The ForceField pair
// style follows the force field's own model in `box`; the presets do
// not look at it. Throws Error naming the entry when a number to be written is not finite.
std::string generate_forcefield_file(const ForceField& force_field, const TypeRegistries& registries,
                                     OptionalPairSetup pair_style, bool explicit_lb, const Box& box);

}  // namespace cellkit
