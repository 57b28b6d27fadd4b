#include <gtest/gtest.h>

#include <cmath>

#include "packmol/packmol_input.hpp"
#include "packmol/sub_boxes.hpp"
#include "test_support.hpp"

namespace cellkit {
namespace {

using Counts = std::vector<std::uint64_t>;

TEST(SubBoxes, FacesKeepTheMarginOutsideAndHalfTheToleranceInside) {
    // Edge 20, tolerance 2: margin 2, gap 1 on each side of the cut at 10.
    const std::vector<SubBox> boxes = plan_sub_boxes({8}, 20.0, 2.0, 2);
    ASSERT_EQ(boxes.size(), 8u);
    const struct {
        std::size_t box;
        Vec3 lo, hi;
    } cases[] = {
        {0, {2, 2, 2}, {9, 9, 9}},
        {1, {11, 2, 2}, {18, 9, 9}},  // x fastest
        {6, {2, 11, 11}, {9, 18, 18}},
        {7, {11, 11, 11}, {18, 18, 18}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(boxes[c.box].region.lo, c.lo) << c.box;
        EXPECT_EQ(boxes[c.box].region.hi, c.hi) << c.box;
    }
    // Three cuts a side: the middle slice keeps the gap on both of its faces.
    const std::vector<SubBox> thirds = plan_sub_boxes({27}, 30.0, 2.0, 3);
    EXPECT_EQ(thirds[13].region.lo, (Vec3{11, 11, 11}));
    EXPECT_EQ(thirds[13].region.hi, (Vec3{19, 19, 19}));
    // One sub-box is the single run's box.
    const PackRegion whole = whole_box_region(2.0, 20.0);
    EXPECT_EQ(plan_sub_boxes({3}, 20.0, 2.0, 1)[0].region.lo, whole.lo);
    EXPECT_EQ(plan_sub_boxes({3}, 20.0, 2.0, 1)[0].region.hi, whole.hi);
}

TEST(SubBoxes, CountsAreSplitExactlyWithRemaindersCarriedAcrossSpecies) {
    const struct {
        Counts counts;
        std::vector<Counts> per_box;
    } cases[] = {
        {{16}, {{2}, {2}, {2}, {2}, {2}, {2}, {2}, {2}}},
        {{10, 3}, {{2, 0}, {2, 0}, {1, 1}, {1, 1}, {1, 1}, {1, 0}, {1, 0}, {1, 0}}},
        {{7, 0, 9}, {{1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {1, 0, 1}, {0, 0, 2}}},
    };
    for (const auto& c : cases) {
        std::vector<Counts> got;
        for (const SubBox& box : plan_sub_boxes(c.counts, 40.0, 2.0, 2)) got.push_back(box.counts);
        EXPECT_EQ(got, c.per_box) << c.counts[0];
    }
}

TEST(SubBoxes, RefusedCutsAndTheNumberChosenFromTheCount) {
    EXPECT_EQ(testing::message_of([] { plan_sub_boxes({5, 2}, 20.0, 2.0, 2); }),
              "cannot cut the box into 2x2x2 sub-boxes: more than the 7 molecules");
    EXPECT_EQ(
        testing::message_of([] { plan_sub_boxes({1000}, 10.0, 2.0, 4); }),
        "cannot cut the box of edge 10.000 \u00c5 into 4x4x4 sub-boxes: no room inside them at tolerance 2.00 \u00c5");

    const double n = molecules_per_sub_box;
    const struct {
        double molecules, edge, extent;
        std::size_t per_axis;
    } cases[] = {
        {8 * n - 1, 400, 3, 1}, {8 * n, 400, 3, 2},   {27 * n - 1, 400, 3, 2},
        {27 * n, 400, 3, 3},    {27 * n, 400, 80, 2},  // three would leave room for less than two molecules
        {27 * n, 400, 200, 1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(sub_boxes_per_axis(c.molecules, c.edge, 2.0, c.extent), c.per_axis) << c.molecules << " " << c.extent;
    }
}

TEST(SubBoxes, PiecesGoBackSpeciesBySpeciesThenSubBoxBySubBox) {
    // Species 0 has two atoms, species 1 one; the x of each atom says where it belongs.
    std::vector<SubBox> boxes(2);
    boxes[0].counts = {1, 1};
    boxes[1].counts = {2, 0};
    const std::vector<std::vector<Vec3>> packed = {
        {{0, 0, 0}, {1, 0, 0}, {6, 0, 0}},
        {{2, 0, 0}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}},
    };
    std::vector<double> xs;
    for (const Vec3& p : canonical_order(boxes, packed, {2, 1})) xs.push_back(p[0]);
    EXPECT_EQ(xs, (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
}

TEST(SubBoxes, ExtentIsTheLargestTemplateDiagonal) {
    const Molecule a = testing::molecule("a", {{"C", {0, 0, 0}}, {"C", {3, 4, 0}}});
    const Molecule b = testing::molecule("b", {{"C", {1, 1, 1}}, {"C", {0, 2, 3}}, {"C", {2, 0, 1}}});
    EXPECT_DOUBLE_EQ(largest_extent(testing::active({{&a, 1}, {&b, 1}})), 5.0);
    EXPECT_DOUBLE_EQ(largest_extent(testing::active({{&b, 1}})), std::sqrt(4.0 + 4.0 + 4.0));
}

}  // namespace
}  // namespace cellkit
