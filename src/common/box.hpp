// The periodic box: edges along x, y and z from the origin, in Å, and for a tilted cell LAMMPS's tilt
// factors: a along x, b in the xy plane, c anywhere (the orientation RASPA3 and LAMMPS share).
#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string>

#include "common/number_format.hpp"
#include "common/vec3.hpp"

namespace cellkit {

struct Box {
    Vec3 edges{};  // lx, ly, lz
    Vec3 tilt{};   // xy, xz, yz

    Box() = default;
    // A number is a cube: most boxes are, and every caller that has one edge means one.
    Box(double edge) : edges{edge, edge, edge} {}
    Box(const Vec3& edges) : edges(edges) {}
    Box(const Vec3& edges, const Vec3& tilt) : edges(edges), tilt(tilt) {}

    double operator[](std::size_t axis) const { return edges[axis]; }
    // Edges that are not numbers count as alike, so that a cube of NaN is still spoken of as a cube.
    bool is_cube() const { return !tilted() && same(edges[0], edges[1]) && same(edges[1], edges[2]); }
    bool tilted() const { return tilt[0] != 0.0 || tilt[1] != 0.0 || tilt[2] != 0.0; }
    double volume() const { return edges[0] * edges[1] * edges[2]; }

    // The distances between opposite faces, which bound the cut-offs; the edges of an upright box.
    Vec3 widths() const {
        if (!tilted()) return edges;
        const auto [lx, ly, lz] = edges;
        const auto [xy, xz, yz] = tilt;
        // The volume over the area of each pair of faces: |b × c|, |c × a|, |a × b|.
        return {lx * ly * lz / std::hypot(ly * lz, xy * lz, xy * yz - ly * xz), ly * lz / std::hypot(lz, yz), lz};
    }
    double shortest() const {
        const Vec3 w = widths();
        return std::min({w[0], w[1], w[2]});
    }

    // The shortest image of the displacement `d`: whole cells taken off c, then b, then a, the way
    // LAMMPS's own minimum image works. Axes of no positive finite length are left alone.
    Vec3 nearest(Vec3 d) const {
        const auto fold = [&](std::size_t axis, const Vec3& cell) {
            const double length = edges[axis];
            if (!(length > 0.0) || !std::isfinite(length)) return;
            const double n = std::nearbyint(d[axis] / length);
            for (std::size_t k = 0; k < 3; ++k) d[k] -= n * cell[k];
        };
        fold(2, {tilt[1], tilt[2], edges[2]});
        fold(1, {tilt[0], edges[1], 0.0});
        fold(0, {edges[0], 0.0, 0.0});
        return d;
    }

private:
    static bool same(double a, double b) { return a == b || (a != a && b != b); }
};

inline constexpr const char* axis_names[3] = {"x", "y", "z"};
inline constexpr const char* tilt_names[3] = {"xy", "xz", "yz"};

// "24.928 Å cube", "20.000 × 20.000 × 60.000 Å", or "... Å, tilted xy 0.000 xz -4.300 yz 0.000": to the
// thousandth of an Å.
inline std::string box_text(const Box& box) {
    if (box.is_cube()) return fmt::cat(fmt::Fixed{box[0], 3}, " \u00c5 cube");
    std::string text = fmt::cat(fmt::Fixed{box[0], 3}, " \u00d7 ", fmt::Fixed{box[1], 3}, " \u00d7 ",
                                fmt::Fixed{box[2], 3}, " \u00c5");
    if (box.tilted()) {
        text.append(fmt::cat(", tilted xy ", fmt::Fixed{box.tilt[0], 3}, " xz ", fmt::Fixed{box.tilt[1], 3}, " yz ",
                             fmt::Fixed{box.tilt[2], 3}));
    }
    return text;
}

}  // namespace cellkit
