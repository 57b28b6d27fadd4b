#include <gtest/gtest.h>

#include <cmath>

#include "packmol/first_guess.hpp"

namespace cellkit {
namespace {

const std::vector<Vec3> water = {{0, 0, 0}, {1, 0, 0}, {-0.333, 0.943, 0}};

double nearest_image_distance(const Vec3& a, const Vec3& b, const Vec3& box) {
    double r2 = 0.0;
    for (std::size_t k = 0; k < 3; ++k) {
        double d = a[k] - b[k];
        d -= box[k] * std::round(d / box[k]);
        r2 += d * d;
    }
    return std::sqrt(r2);
}

// Packmol 21.2.3, restarted from these lines in an empty box, wrote these atoms unmoved.
TEST(FirstGuess, AtomsWherePackmolPutsThem) {
    const std::tuple<Placement, std::vector<Vec3>> cases[] = {
        {{{10, 11, 12}, 0.3, 1.1, 2.0}, {{9.949, 11.316, 12.213}, {10.491, 10.521, 12.482}, {9.560, 11.163, 11.305}}},
        {{{20, 21, 22}, 4.0, 0.2, 0.7}, {{20.381, 20.952, 21.976}, {19.856, 21.649, 21.488}, {19.763, 20.399, 22.535}}},
    };
    for (const auto& [at, expected] : cases) {
        const std::vector<Vec3> atoms = placed_atoms(water, at);
        for (std::size_t i = 0; i < atoms.size(); ++i) {
            for (std::size_t k = 0; k < 3; ++k) EXPECT_NEAR(atoms[i][k], expected[i][k], 6e-4) << i << " " << k;
        }
    }
    EXPECT_EQ(packmol_restart({{{10, 11, 12}, 0.3, 1.1, 2.0}, {{-1.5, 0, 1e-7}, 0, 6.25, 3.1}}),
              "10.000000 11.000000 12.000000 0.300000 1.100000 2.000000\n"
              "-1.500000 0.000000 0.000000 0.000000 6.250000 3.100000\n");
}

// At a tenth of a liquid's density every molecule finds room: its atoms keep 0.8 of the tolerance
// from every other molecule's and from the fixed atoms, through the periodic faces, and stay in
// their species' region.
TEST(FirstGuess, MoleculesKeepClearOfEachOtherAndOfFixedAtomsInTheirRegions) {
    const Vec3 box{30, 24, 20};
    const std::vector<Vec3> chain = {{0, 0, 0}, {1.5, 0, 0}, {3.0, 0, 0}, {4.5, 0, 0}};
    const std::vector<GuessSpecies> species = {
        {.atoms = water, .count = 40, .region = {{0, 0, 0}, box}},
        {.atoms = chain, .count = 12, .region = {{0, 0, 5}, {30, 24, 15}}},  // a slab along z
    };
    std::vector<Vec3> fixed;
    for (double x = 1.0; x < 30; x += 2.0) {  // a plane at the top face, near the bottom one through it
        for (double y = 1.0; y < 24; y += 2.0) fixed.push_back({x, y, 19.9});
    }

    const double tolerance = 2.0;
    const auto guesses = first_guesses(species, box, tolerance, fixed, 7);
    ASSERT_EQ(guesses.size(), 2u);
    std::vector<std::vector<Vec3>> molecules;
    for (std::size_t s = 0; s < species.size(); ++s) {
        ASSERT_EQ(guesses[s].size(), species[s].count);
        for (const Placement& at : guesses[s]) {
            molecules.push_back(placed_atoms(species[s].atoms, at));
            for (const Vec3& p : molecules.back()) {
                for (std::size_t k = 0; k < 3; ++k) {
                    EXPECT_GE(p[k], species[s].region.lo[k]) << s;
                    EXPECT_LE(p[k], species[s].region.hi[k]) << s;
                }
            }
        }
    }
    molecules.push_back(fixed);
    double closest = 1e9;
    for (std::size_t i = 0; i < molecules.size(); ++i) {
        for (std::size_t j = i + 1; j < molecules.size(); ++j) {
            for (const Vec3& a : molecules[i]) {
                for (const Vec3& b : molecules[j]) closest = std::min(closest, nearest_image_distance(a, b, box));
            }
        }
    }
    EXPECT_GE(closest, 0.8 * tolerance);
    EXPECT_LT(closest, 1.1 * tolerance);  // and no emptier than that: the tries are not all thrown away

    EXPECT_EQ(first_guesses(species, box, tolerance, fixed, 7)[0][5].centre, guesses[0][5].centre);
    EXPECT_NE(first_guesses(species, box, tolerance, fixed, 8)[0][5].centre, guesses[0][5].centre);
    EXPECT_TRUE(first_guesses(species, box, 0.0, fixed, 7)[0].empty());
    EXPECT_THROW(first_guesses(species, box, tolerance, fixed, 7, [] { return true; }), Interrupted);
    // A dilute gas: a box of 5 µm holds ten molecules without a cell for every 1.6 Å.
    const Vec3 far{50'000, 50'000, 50'000};
    EXPECT_EQ(first_guesses({{.atoms = water, .count = 10, .region = {{0, 0, 0}, far}}}, far, 2.0, {}, 1)[0].size(),
              10u);
}

// Turns are uniform over all turns, and centres over the region: a molecule's axis has no
// preferred direction (the mean square of each component is 1/3), and each half of the box holds
// half the molecules.
TEST(FirstGuess, TurnsAndCentresAreUniform) {
    const Vec3 box{200, 200, 200};
    const std::vector<Vec3> rod = {{-1, 0, 0}, {1, 0, 0}};
    const auto guesses = first_guesses({{.atoms = rod, .count = 20'000, .region = {{0, 0, 0}, box}}}, box, 1.0, {}, 3);
    Vec3 squares{}, lower{};
    for (const Placement& at : guesses[0]) {
        const std::vector<Vec3> atoms = placed_atoms(rod, at);
        for (std::size_t k = 0; k < 3; ++k) {
            const double u = (atoms[1][k] - atoms[0][k]) / 2.0;
            squares[k] += u * u / 20'000.0;
            lower[k] += at.centre[k] < 100.0 ? 1.0 / 20'000.0 : 0.0;
        }
    }
    for (std::size_t k = 0; k < 3; ++k) {
        EXPECT_NEAR(squares[k], 1.0 / 3.0, 0.012) << k;  // about 4 standard errors
        EXPECT_NEAR(lower[k], 0.5, 0.015) << k;
    }
}

}  // namespace
}  // namespace cellkit
