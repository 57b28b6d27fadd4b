// The periodic box: edges along x, y and z from the origin, in Å.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "common/number_format.hpp"
#include "common/vec3.hpp"

namespace cellkit {

struct Box {
    Vec3 edges{};

    Box() = default;
    // A number is a cube: most boxes are, and every caller that has one edge means one.
    Box(double edge) : edges{edge, edge, edge} {}
    Box(const Vec3& edges) : edges(edges) {}

    double operator[](std::size_t axis) const { return edges[axis]; }
    // Edges that are not numbers count as alike, so that a cube of NaN is still spoken of as a cube.
    bool is_cube() const { return same(edges[0], edges[1]) && same(edges[1], edges[2]); }
    double shortest() const { return std::min({edges[0], edges[1], edges[2]}); }
    double volume() const { return edges[0] * edges[1] * edges[2]; }

private:
    static bool same(double a, double b) { return a == b || (a != a && b != b); }
};

inline constexpr const char* axis_names[3] = {"x", "y", "z"};

// "24.928 Å cube", or "20.000 × 20.000 × 60.000 Å": edges to the thousandth of an Å.
inline std::string box_text(const Box& box) {
    if (box.is_cube()) return fmt::cat(fmt::Fixed{box[0], 3}, " \u00c5 cube");
    return fmt::cat(fmt::Fixed{box[0], 3}, " \u00d7 ", fmt::Fixed{box[1], 3}, " \u00d7 ", fmt::Fixed{box[2], 3},
                    " \u00c5");
}

}  // namespace cellkit
