// The box a packing route builds: its edges from the molecules' mass and a density, or given, and
// where along z each species goes (the whole box, a liquid slab between vacuum, or layers).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/box.hpp"
#include "ff/force_field.hpp"
#include "lammps/system.hpp"

namespace cellkit {

// Sum of molecule mass x count, g/mol. Throws Error naming the molecule and
// type when a pseudo-atom type is not in the force field.
double total_mass(const ActiveSpeciesList& active, const ForceField& force_field);

// Edge in Å of the cube that holds `mass` g/mol at `density` kg/m³.
double box_edge(double mass, double density);

// One liquid of a layered box: the next `species` species of the input, in order, at `density` kg/m³.
struct Layer {
    std::size_t species = 0;
    double density = 0.0;
};

// What the caller asks of the box. The liquid's shape is `aspect` (edge ratios along x, y and z; a
// cube when unset) scaled to hold the mass at `density` (or, with `layers`, at each layer's own),
// or the box's `edges`, from which the density follows. `vacuum` Å are added along z, half below
// and half above the liquid. Layers are stacked along z in order, each across the whole x-y section.
struct BoxShape {
    std::optional<double> density;  // kg/m³
    std::optional<Vec3> aspect;
    std::optional<Vec3> edges;  // Å
    double vacuum = 0.0;        // Å
    std::vector<Layer> layers;  // empty: one liquid of every species
};

struct ShapedBox {
    Box box;
    // Per active species, the slice [lo, hi] along z that its molecules fill.
    std::vector<std::array<double, 2>> z_range;
    bool bulk = true;      // one periodic liquid filling the whole box
    bool slab = false;     // vacuum along z
    bool layered = false;  // two liquids or more
    // For the build summary: the density that follows from given edges, the slab or the layers;
    // empty for a box by density without vacuum.
    std::string text;
};

// Checks the request (positive finite density, ratios and edges, a vacuum of 0 or more, layers that
// cover the species and hold molecules) and lays the box out. `counts` are the input's, one per
// species, of which the active ones are those above 0. Throws Error naming the fault.
ShapedBox shape_box(const ActiveSpeciesList& active, const std::vector<std::uint64_t>& counts,
                    const ForceField& force_field, const BoxShape& shape);

}  // namespace cellkit
