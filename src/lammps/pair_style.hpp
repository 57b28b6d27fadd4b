// The pair-style block of forcefield.lmp for each preset.
#pragma once

#include <string>

#include "lammps/pair_setup.hpp"

namespace cellkit {

// The cut-off of every preset, Å.
inline constexpr double preset_cutoff = 10.0;

std::string gen_pair_style_setup(OptionalPairSetup pair_style, bool explicit_lb);

}  // namespace cellkit
