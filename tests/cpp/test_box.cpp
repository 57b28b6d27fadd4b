#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

#include "common/box.hpp"

namespace cellkit {
namespace {

// A cell from its edge lengths and angles (degrees), in LAMMPS's restricted triclinic orientation.
Box cell(double a, double b, double c, double alpha, double beta, double gamma) {
    const double r = std::numbers::pi / 180.0;
    const double xy = b * std::cos(gamma * r), xz = c * std::cos(beta * r);
    const double ly = b * std::sin(gamma * r);
    const double yz = (b * c * std::cos(alpha * r) - xy * xz) / ly;
    return Box({a, ly, std::sqrt(c * c - xz * xz - yz * yz)}, {xy, xz, yz});
}

// The distance between opposite faces is the reciprocal of the reciprocal vector's length; the
// reciprocal vectors are the rows of the inverse of the cell matrix (columns a, b, c).
Vec3 reciprocal_widths(const Box& box) {
    const auto [lx, ly, lz] = box.edges;
    const auto [xy, xz, yz] = box.tilt;
    const Vec3 ra{1 / lx, -xy / (lx * ly), (xy * yz - ly * xz) / (lx * ly * lz)};
    const Vec3 rb{0.0, 1 / ly, -yz / (ly * lz)};
    const Vec3 rc{0.0, 0.0, 1 / lz};
    return {1 / std::hypot(ra[0], ra[1], ra[2]), 1 / std::hypot(rb[0], rb[1], rb[2]),
            1 / std::hypot(rc[0], rc[1], rc[2])};
}

TEST(Box, WidthsOfUprightAndTiltedCells) {
    const struct {
        Box box;
        Vec3 widths;
    } upright[] = {{Box(20.0), {20.0, 20.0, 20.0}}, {Box({20.0, 30.0, 40.0}), {20.0, 30.0, 40.0}}};
    for (const auto& c : upright) {
        for (std::size_t k = 0; k < 3; ++k) EXPECT_EQ(c.box.widths()[k], c.widths[k]);
    }
    const double beta = 105.0 * std::numbers::pi / 180.0;
    const Box monoclinic = cell(10.0, 11.0, 12.0, 90.0, 105.0, 90.0);
    EXPECT_NEAR(monoclinic.widths()[0], 10.0 * std::sin(beta), 1e-12);
    EXPECT_NEAR(monoclinic.widths()[1], 11.0, 1e-12);
    EXPECT_NEAR(monoclinic.widths()[2], 12.0 * std::sin(beta), 1e-12);
    for (const Box& box : {cell(9.0, 10.0, 11.0, 80.0, 95.0, 105.0), cell(12.0, 8.0, 9.0, 70.0, 110.0, 60.0)}) {
        for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(box.widths()[k], reciprocal_widths(box)[k], 1e-12) << k;
        EXPECT_NEAR(box.shortest(),
                    std::min({reciprocal_widths(box)[0], reciprocal_widths(box)[1], reciprocal_widths(box)[2]}), 1e-12);
    }
}

TEST(Box, NearestImageIsTheShortestOfTheNeighbouringOnes) {
    const Box box = cell(9.0, 10.0, 11.0, 80.0, 95.0, 105.0);
    const auto length = [](const Vec3& v) { return std::hypot(v[0], v[1], v[2]); };
    const Vec3 a{box[0], 0, 0}, b{box.tilt[0], box[1], 0}, c{box.tilt[1], box.tilt[2], box[2]};
    for (const Vec3& d : {Vec3{3.0, -2.0, 1.0}, Vec3{8.5, 9.0, 10.5}, Vec3{-17.0, 4.0, -12.0}, Vec3{4.4, 4.9, 5.4},
                          Vec3{0.5, -4.0, 21.5}}) {
        double best = std::numeric_limits<double>::infinity();
        for (int i = -3; i <= 3; ++i) {
            for (int j = -3; j <= 3; ++j) {
                for (int k = -3; k <= 3; ++k) {
                    best = std::min(best, length({d[0] + i * a[0] + j * b[0] + k * c[0], d[1] + j * b[1] + k * c[1],
                                                  d[2] + k * c[2]}));
                }
            }
        }
        // Folding c, b, then a gives an image within half a width of each face pair, which is the
        // shortest one for any displacement shorter than half the narrowest width.
        const Vec3 folded = box.nearest(d);
        if (best < 0.5 * box.shortest()) EXPECT_NEAR(length(folded), best, 1e-12);
        // And it is an image of d: d less whole cells.
        const double nc = (d[2] - folded[2]) / c[2];
        const double nb = (d[1] - folded[1] - nc * c[1]) / b[1];
        const double na = (d[0] - folded[0] - nc * c[0] - nb * b[0]) / a[0];
        for (const double n : {na, nb, nc}) EXPECT_NEAR(n, std::round(n), 1e-12);
        EXPECT_LE(length(folded), length(d) + 1e-12);
    }
    EXPECT_EQ(Box({10.0, 10.0, 10.0}).nearest({6.0, -6.0, 4.0}), (Vec3{-4.0, 4.0, 4.0}));
}

}  // namespace
}  // namespace cellkit
