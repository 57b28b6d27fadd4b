// A position or displacement in Å.
#pragma once

#include <array>

namespace cellkit {

using Vec3 = std::array<double, 3>;

}  // namespace cellkit
