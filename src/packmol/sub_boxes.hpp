// Cutting the periodic box into a grid of sub-boxes that Packmol fills round by round, and putting the
// pieces back.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/box.hpp"
#include "common/vec3.hpp"
#include "lammps/system.hpp"
#include "packmol/packmol_input.hpp"

namespace cellkit {

// Sub-boxes along x, y and z: 1 or an even number each.
using Grid = std::array<std::size_t, 3>;

struct SubBox {
    PackRegion region;                  // its slice of the box, Å, faces shared with its neighbours
    std::vector<std::uint64_t> counts;  // its molecules of each active species
    Grid cell{};                        // its place in the grid
    // The sub-boxes of one round touch none of each other, not even through the periodic faces:
    // they share the parity of their place along every cut axis. A round starts once the earlier
    // ones are packed, each sub-box clear of its packed neighbours' atoms near its faces.
    std::size_t round = 0;
};

// Packmol's time for a run of `molecules` molecules of a small molecule at liquid density, in
// seconds: start-up, and a time per molecule that grows with the molecules of the run. Fitted to
// periodic boxes of water at 1000 kg/m³ started from first_guesses(), one run on one core of the
// project's machine: 0.2 s for 1,000 molecules, 1.7 s for 10,000, 4.2 s for 20,000, 9.3 s for 30,000,
// 17.5 s for 50,000, 36.6 s for 100,000.
double packmol_seconds(double molecules);

// The grid that packs `molecules` molecules fastest with `jobs` Packmol runs at once, by
// packmol_seconds(), every sub-box at least two of the largest molecule (its `extent` in Å) and the
// tolerance wide along each axis and holding at least min_molecules_per_sub_box molecules; {1, 1, 1},
// the single run, unless the fastest split takes under split_must_beat of its time. Longer axes take
// at least as many cuts as shorter ones; among equal edges, x first, then y, then z.
inline constexpr double min_molecules_per_sub_box = 1000.0;
inline constexpr double split_must_beat = 0.85;
Grid choose_grid(double molecules, const Box& box, double tolerance, double extent, std::size_t jobs);

// The number of rounds of a grid: 2 to the number of axes it cuts.
std::size_t round_count(const Grid& grid);

// The largest diagonal, in Å, of the box around a template's atoms, over the species:
// no turn of the molecule makes it longer.
double largest_extent(const ActiveSpeciesList& active);

// The box cut into the grid's equal sub-boxes, x fastest, sharing their faces. Each
// count of `counts` is divided exactly: every sub-box gets the quotient, and the remainders go one
// by one to the sub-boxes in turn, carrying on from one species to the next, so sub-boxes differ by
// at most one molecule in all. Throws Error when an axis is cut into an odd number other than 1, or
// there are more sub-boxes than molecules.
std::vector<SubBox> plan_sub_boxes(const std::vector<std::uint64_t>& counts, const Box& box, const Grid& grid);

// The shortest distance, in Å, from `atom` to `region` in the periodic `box`, by the
// nearest image along each axis; 0 inside.
double distance_to(const Vec3& atom, const PackRegion& region, const Box& box);

// The atoms of `atoms` that lie within `reach` of `region` in the periodic `box`, each moved
// to its image nearest the region.
std::vector<Vec3> atoms_near(const std::vector<Vec3>& atoms, const PackRegion& region, const Box& box, double reach);

// The atoms of the sub-boxes, each packed species after species, in canonical
// order: species in order, then their molecules from sub-box to sub-box, atoms
// in template order. `packed[b]` holds sub-box b's atoms, `atoms[s]` is the
// number of atoms of a molecule of species s.
std::vector<Vec3> canonical_order(const std::vector<SubBox>& boxes, const std::vector<std::vector<Vec3>>& packed,
                                  const std::vector<std::size_t>& atoms);

}  // namespace cellkit
