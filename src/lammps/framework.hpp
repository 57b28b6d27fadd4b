// A framework in the box: the species of "Type": "framework" (a zeolite, a MOF), which LAMMPS holds
// still and whose atoms' pairs with each other are left out, as in RASPA3, where a framework moves
// neither as a whole nor atom by atom and its own energy is never counted.
#pragma once

#include <string>

#include "lammps/system.hpp"

namespace cellkit {

// The LAMMPS group of the framework atoms, defined in forcefield.lmp.
inline constexpr const char* framework_group = "framework";

// The lines of forcefield.lmp that define the group by molecule ID and leave out the framework's own
// pairs; empty when the box holds no framework.
std::string framework_block(const ActiveSpeciesList& active);

}  // namespace cellkit
