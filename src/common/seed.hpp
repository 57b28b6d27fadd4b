// Where the random numbers of a packing start: the same seed gives the same box.
#pragma once

#include <cstdint>

namespace cellkit {

// Packmol's own default, and the default of every route, so that builds repeat unless asked not to.
inline constexpr std::uint64_t default_seed = 1234567;
// The largest seed Packmol reads (a Fortran integer); RASPA3 takes the same range.
inline constexpr std::uint64_t largest_seed = 2147483647;

}  // namespace cellkit
