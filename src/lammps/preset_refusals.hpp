// What LAMMPS is bound to refuse in a build's pair-style preset, foretold in the build summary.
#pragma once

#include <string>
#include <vector>

#include "ff/force_field.hpp"
#include "lammps/pair_setup.hpp"
#include "lammps/system.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

// One warning per refusal foreseen: a kspace style over a system without charges; a Tip4p preset
// whose atom types 1 and 2 are not the oxygen and hydrogens of the first species, a three-site
// water, or whose hydrogen has a Lennard-Jones well. The presets themselves stay as they are.
std::vector<std::string> preset_refusals(OptionalPairSetup pair_style, const ActiveSpeciesList& active,
                                         const TypeRegistries& registries, const ForceField& force_field);

}  // namespace cellkit
