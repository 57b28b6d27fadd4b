// A position or displacement in Å.
#pragma once

#include <array>
#include <cstddef>
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

// The mean of the points: a template's centre, where its turns are about.
inline Vec3 centroid(std::span<const Vec3> points) {
    Vec3 c{};
    for (const Vec3& p : points) {
        for (std::size_t k = 0; k < 3; ++k) c[k] += p[k];
    }
    for (double& x : c) x /= static_cast<double>(points.size());
    return c;
}

}  // namespace cellkit
