#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "lammps/rigid_shapes.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

double distance(const Vec3& a, const Vec3& b) { return std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]); }

// A turn by `angle` radians about the unit axis (a, b, c), then a shift.
Vec3 moved(const Vec3& p, double a, double b, double c, double angle, const Vec3& shift) {
    const double co = std::cos(angle), si = std::sin(angle), t = 1 - co;
    const double r[3][3] = {{t * a * a + co, t * a * b - si * c, t * a * c + si * b},
                            {t * a * b + si * c, t * b * b + co, t * b * c - si * a},
                            {t * a * c - si * b, t * b * c + si * a, t * c * c + co}};
    Vec3 out{};
    for (std::size_t i = 0; i < 3; ++i) out[i] = r[i][0] * p[0] + r[i][1] * p[1] + r[i][2] * p[2] + shift[i];
    return out;
}

const Molecule water = testing::molecule(
    "water", {{"Ow", {0, 0, 0}}, {"Hw", {0.816497, 0.577350, 0}}, {"Hw", {-0.816497, 0.577350, 0}}}, {{0, 1}, {0, 2}},
    true);
const Molecule co2 =
    testing::molecule("co2", {{"O", {0, 0, 1.149}}, {"C", {0, 0, 0}}, {"O", {0, 0, -1.149}}}, {{0, 1}, {1, 2}}, true);
const Molecule chain = testing::molecule("chain", {{"C", {0, 0, 0}}, {"C", {1.54, 0, 0}}});  // flexible

TEST(RigidShapes, TheBestFitCarriesATemplateOntoItsTurnedAndShiftedCopy) {
    std::vector<Vec3> shape, target;
    for (const PseudoAtom& a : water.pseudo_atoms) shape.push_back(a.position);
    // Small, large and half turns about tilted axes, where a wrong sign or a transposed matrix shows.
    for (const double angle : {0.3, 2.0, 3.14159}) {
        target.clear();
        for (const Vec3& p : shape) target.push_back(moved(p, 0.48, 0.6, 0.64, angle, {5, -3, 7}));
        std::vector<Vec3> fitted(3);
        best_fit(shape, target, fitted);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_LT(distance(fitted[i], target[i]), 1e-12) << angle << " " << i;
    }
}

TEST(RigidShapes, RigidMoleculesGetTheirExactShapeBackWholeAndFlexibleOnesStay) {
    const double edge = 20.0;
    // Species in order: two CO2, one chain, one water. The first CO2 is rounded to Packmol's three
    // decimals on a tilted axis, the second lies across the face x = 0 as a wrapped file has it;
    // the water is 0.2 Å out of shape.
    const Vec3 axis{0.57735, 0.57735, 0.57735};
    std::vector<Vec3> coords;
    for (const double s : {1.149, 0.0, -1.149}) {
        coords.push_back({std::round((5 + s * axis[0]) * 1e3) / 1e3, std::round((6 + s * axis[1]) * 1e3) / 1e3,
                          std::round((7 + s * axis[2]) * 1e3) / 1e3});
    }
    coords.insert(coords.end(), {{1.049, 3, 3}, {19.9, 3, 3}, {18.751, 3, 3}});
    coords.insert(coords.end(), {{1, 1, 1}, {2.6, 1, 1}});  // the chain, stretched
    coords.insert(coords.end(), {{10, 10, 10}, {10.816497, 10.577350, 10}, {8.883503, 10.577350, 10}});
    const ActiveSpeciesList active = testing::active({{&co2, 2}, {&chain, 1}, {&water, 1}});
    const std::vector<Vec3> before = coords;

    const std::vector<std::string> warnings = restore_rigid_shapes(active, coords, edge);

    for (const std::size_t first : {0, 3}) {  // each CO2 straight, its bonds exact, its middle in place
        const Vec3 a = coords[first], c = coords[first + 1], b = coords[first + 2];
        EXPECT_NEAR(distance(a, c), 1.149, 1e-12);
        EXPECT_NEAR(distance(b, c), 1.149, 1e-12);
        EXPECT_NEAR(distance(a, b), 2.298, 1e-12);
    }
    EXPECT_LT(distance(coords[1], before[1]), 2e-3);
    EXPECT_NEAR(coords[4][0], -0.1, 1e-9);  // whole beside its first atom, not an edge away
    EXPECT_NEAR(coords[5][0], -1.249, 1e-9);
    EXPECT_EQ(coords[6], before[6]);
    EXPECT_EQ(coords[7], before[7]);
    const Vec3 &o = water.pseudo_atoms[0].position, &h = water.pseudo_atoms[1].position;
    EXPECT_NEAR(distance(coords[8], coords[9]), distance(o, h), 1e-12);
    EXPECT_NEAR(distance(coords[9], coords[10]), 2 * 0.816497, 1e-12);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_TRUE(warnings[0].starts_with("'water' is rigid, but 1 of its 1 molecules were placed up to 0.1"))
        << warnings[0];
    EXPECT_TRUE(warnings[0].ends_with(" \u00c5 from its template's shape: written in that shape")) << warnings[0];
}

}  // namespace
}  // namespace cellkit
