// The force-field file's own non-bonded model as LAMMPS commands, and what LAMMPS cannot express of it.
#pragma once

#include <string>
#include <vector>

#include "ff/force_field.hpp"
#include "ff/nonbonded_model.hpp"
#include "lammps/pair_setup.hpp"
#include "lammps/system.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {

// The atom types of the box that carry a charge, in type order. LAMMPS calls a system uncharged
// when the sum of the squared charges is 0, so a charge whose square is 0 counts as none.
std::vector<std::string> charged_types(const TypeRegistries& registries, const ForceField& force_field);

// The pair-style block of forcefield.lmp for the ForceField pair style: lj/cut with the file's
// cut-off, shift and tail corrections, and for a charged box lj/cut/coul/long with RASPA3's Ewald
// sum; each line says in a comment which key it comes from.
std::string model_pair_block(const NonBondedModel& model, bool charged, bool explicit_lb);

// Warnings for the build summary: charges that the pair style leaves out, and for the ForceField
// pair style whatever of the file's model LAMMPS cannot reproduce in this box.
std::vector<std::string> model_warnings(OptionalPairSetup pair_style, const ForceField& force_field,
                                        const ActiveSpeciesList& active, const TypeRegistries& registries,
                                        const Box& box);

}  // namespace cellkit
