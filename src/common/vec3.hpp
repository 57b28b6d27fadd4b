// A position or displacement in Å.
#pragma once

#include <array>
#include <span>
#include <vector>

namespace cellkit {

using Vec3 = std::array<double, 3>;

// Triples owned elsewhere (a vector, or a caller's array read in place). A temporary vector is
// refused at compile time: a view of it would outlive it, where a const reference did not.
class Vec3View : public std::span<const Vec3> {
public:
    using std::span<const Vec3>::span;
    Vec3View() = default;
    Vec3View(std::span<const Vec3> triples) : std::span<const Vec3>(triples) {}
    Vec3View(const std::vector<Vec3>& triples) : std::span<const Vec3>(triples) {}
    Vec3View(std::vector<Vec3>&&) = delete;
};

}  // namespace cellkit
