#include "lammps/box_shape.hpp"

#include <algorithm>
#include <cmath>

#include "common/error.hpp"
#include "common/number_format.hpp"

namespace cellkit {

using fmt::cat;
using fmt::Fixed;

namespace {

constexpr double avogadro = 6.02214076e23;
constexpr double densest_liquid = 20'000.0;  // kg/m³

// Å³ that `mass` g/mol fill at `density` kg/m³: grams / (g/cm³) = cm³, and 1 cm³ = 1e24 Å³.
double volume_of(double mass, double density) {
    return mass / avogadro / (density / 1000.0) * 1e24;
}

bool positive(double v) {
    return v > 0.0 && std::isfinite(v);
}

std::string three(const Vec3& v) {
    return cat(v[0], " ", v[1], " ", v[2]);
}

// One liquid of the box: its active species (positions in the active list), mass and density.
struct Liquid {
    std::vector<std::size_t> members;
    std::string names;  // its species' names, joined by '+'
    double mass = 0.0;
    double density = 0.0;
};

std::vector<Liquid> liquids(const ActiveSpeciesList& active, const std::vector<std::uint64_t>& counts,
                            const ForceField& force_field, const BoxShape& shape) {
    std::vector<Layer> layers = shape.layers;
    // With the edges given, the density is found from them afterwards.
    if (layers.empty()) layers.push_back({counts.size(), shape.edges ? 1.0 : shape.density.value_or(0.0)});
    std::size_t given = 0;
    for (const Layer& layer : layers) given += layer.species;
    if (given != counts.size()) {
        fail("the layers hold ", given, " species in all, but ", counts.size(), " species were given");
    }
    std::vector<Liquid> out;
    std::size_t input = 0, next_active = 0;
    for (std::size_t k = 0; k < layers.size(); ++k) {
        const std::string which = layers.size() > 1 ? cat("layer ", k + 1, ": ") : std::string();
        if (layers[k].species == 0) fail(which, "a layer holds at least one species");
        if (!positive(layers[k].density)) fail(which, "density must be positive");
        Liquid liquid{.members = {}, .names = {}, .mass = 0.0, .density = layers[k].density};
        ActiveSpeciesList mine;
        for (std::size_t end = input + layers[k].species; input < end; ++input) {
            if (counts[input] == 0) continue;
            liquid.members.push_back(next_active);
            mine.push_back(active[next_active]);
            liquid.names.append(liquid.names.empty() ? "" : "+").append(active[next_active].resolved.molecule->name);
            ++next_active;
        }
        liquid.mass = total_mass(mine, force_field);
        if (!(liquid.mass > 0.0)) {
            if (layers.size() > 1) fail(which, "no molecules to pack (every count is 0 or every mass is 0)");
            fail("total system mass is zero; nothing to pack");
        }
        out.push_back(std::move(liquid));
    }
    return out;
}

}  // namespace

double total_mass(const ActiveSpeciesList& active, const ForceField& force_field) {
    double total = 0.0;
    for (const ActiveSpecies& species : active) {
        const Molecule& molecule = *species.resolved.molecule;
        double molecule_mass = 0.0;
        for (const PseudoAtom& atom : molecule.pseudo_atoms) {
            const PseudoAtomParams* params = force_field.find(atom.type);
            // Worded as the atom type registry words it, which would report it later.
            if (params == nullptr) {
                fail("molecule '", molecule.name, "' uses pseudo-atom type '", atom.type,
                     "' not present in the force field");
            }
            molecule_mass += params->mass;
        }
        total += molecule_mass * static_cast<double>(species.count);
    }
    return total;
}

double box_edge(double mass, double density) {
    return std::cbrt(volume_of(mass, density));
}

ShapedBox shape_box(const ActiveSpeciesList& active, const std::vector<std::uint64_t>& counts,
                    const ForceField& force_field, const BoxShape& shape) {
    if (active.empty()) fail("no species with count > 0 to pack");
    if (!(shape.vacuum >= 0.0) || !std::isfinite(shape.vacuum)) {
        fail("vacuum must be a finite number of \u00c5, 0 or more, got ", shape.vacuum);
    }
    if (shape.aspect &&
        !(positive((*shape.aspect)[0]) && positive((*shape.aspect)[1]) && positive((*shape.aspect)[2]))) {
        fail("aspect ratios must be positive finite numbers, got ", three(*shape.aspect));
    }
    if (shape.edges && !(positive((*shape.edges)[0]) && positive((*shape.edges)[1]) && positive((*shape.edges)[2]))) {
        fail("box edges must be positive finite numbers of \u00c5, got ", three(*shape.edges));
    }
    if (shape.edges && shape.aspect) fail("give the box's edges or an aspect ratio, not both: the edges fix the shape");
    if (!shape.layers.empty()) {
        if (shape.density) fail("a layered box takes a density per layer, not one for the whole box");
        if (shape.edges) {
            fail(
                "a layered box takes its layers' thicknesses from their densities: give an aspect ratio for its "
                "shape, not the box's edges");
        }
    } else if (shape.edges && shape.density) {
        fail("give the density or the box's edges, not both: with the edges the density follows from the mass");
    } else if (!shape.edges && !shape.density) {
        fail("give a density, or the box's edges");
    }

    std::vector<Liquid> stack = liquids(active, counts, force_field, shape);
    for (const Liquid& liquid : stack) {
        // No liquid is this dense (mercury: 13,534 kg/m³); a density meant in other units packs a box
        // too small for one molecule, after Packmol has tried for a long while.
        if (!shape.edges && liquid.density > densest_liquid) {
            fail(stack.size() > 1 ? cat("layer ", &liquid - stack.data() + 1, ": ") : std::string(), "density ",
                 liquid.density, " kg/m\u00b3 is beyond any liquid's (at most ", densest_liquid,
                 "; water is 1000): the box edge would be ", Fixed{box_edge(liquid.mass, liquid.density), 3},
                 " \u00c5. Is the density in kg/m\u00b3?");
        }
    }
    ShapedBox out;
    double height = 0.0;  // of the liquid, Å
    std::vector<double> thickness;
    if (shape.edges) {
        out.box = *shape.edges;
        height = out.box[2] - shape.vacuum;
        if (!(height > 0.0)) {
            fail("a vacuum of ", shape.vacuum, " \u00c5 leaves no room for the liquid in a box ", Fixed{out.box[2], 3},
                 " \u00c5 tall along z");
        }
        Liquid& liquid = stack.front();
        // The inverse of volume_of().
        liquid.density = liquid.mass / avogadro / (out.box[0] * out.box[1] * height * 1e-24) * 1000.0;
        thickness.push_back(height);
    } else {
        double volume = 0.0;
        for (const Liquid& liquid : stack) {
            thickness.push_back(volume_of(liquid.mass, liquid.density));
            volume += thickness.back();
        }
        const Vec3 ratio = shape.aspect.value_or(Vec3{1.0, 1.0, 1.0});
        const double scale = std::cbrt(volume / (ratio[0] * ratio[1] * ratio[2]));
        const Vec3 liquid{scale * ratio[0], scale * ratio[1], scale * ratio[2]};
        height = liquid[2];
        out.box = Vec3{liquid[0], liquid[1], liquid[2] + shape.vacuum};
        for (double& t : thickness) t /= liquid[0] * liquid[1];
    }

    // A molecule longer than the box's diagonal fits in no orientation. Its span is found exactly for
    // molecules of up to a few thousand atoms, and bounded from below by its widest extent along an
    // axis above that, so the refusal is always sound.
    const double diagonal = std::hypot(out.box[0], out.box[1], out.box[2]);
    for (const ActiveSpecies& species : active) {
        const Molecule& molecule = *species.resolved.molecule;
        const auto& atoms = molecule.pseudo_atoms;
        double span = 0.0;
        if (atoms.size() <= 2000) {
            for (std::size_t i = 0; i < atoms.size(); ++i) {
                for (std::size_t j = i + 1; j < atoms.size(); ++j) {
                    const Vec3& a = atoms[i].position;
                    const Vec3& b = atoms[j].position;
                    span = std::max(span, std::hypot(a[0] - b[0], a[1] - b[1], a[2] - b[2]));
                }
            }
        } else {
            for (std::size_t k = 0; k < 3; ++k) {
                const auto [lo, hi] =
                    std::minmax_element(atoms.begin(), atoms.end(),
                                        [k](const auto& a, const auto& b) { return a.position[k] < b.position[k]; });
                span = std::max(span, hi->position[k] - lo->position[k]);
            }
        }
        if (span >= diagonal) {
            fail("the box (", box_text(out.box), ") cannot hold one molecule of '", molecule.name,
                 "', whose atoms span ", Fixed{span, 3}, " \u00c5: raise the counts or lower the density");
        }
    }

    out.bulk = stack.size() == 1 && shape.vacuum == 0.0;
    out.slab = shape.vacuum > 0.0;
    out.layered = stack.size() > 1;
    out.z_range.resize(active.size());
    double z = shape.vacuum / 2.0;
    const double top = z + height;
    std::string layers_text;
    for (std::size_t k = 0; k < stack.size(); ++k) {
        // The last layer ends where the liquid does, not on a sum that may fall short of it.
        const double end = k + 1 == stack.size() ? top : z + thickness[k];
        for (const std::size_t s : stack[k].members) out.z_range[s] = {z, end};
        layers_text.append(k ? " | " : "")
            .append(cat(stack[k].names, " ", Fixed{z, 3}, "-", Fixed{end, 3}, " \u00c5 at ", Fixed{stack[k].density, 1},
                        " kg/m\u00b3"));
        z = end;
    }
    const std::string vacuum_text =
        shape.vacuum > 0.0 ? cat(", vacuum ", Fixed{shape.vacuum / 2.0, 3}, " \u00c5 below and above") : "";
    if (stack.size() > 1) {
        out.text = cat("layers along z: ", layers_text, vacuum_text);
    } else if (shape.vacuum > 0.0) {
        out.text = cat("liquid slab along z: ", layers_text, vacuum_text);
    } else if (shape.edges) {
        out.text = cat("density: ", Fixed{stack.front().density, 1}, " kg/m\u00b3, from the mass and the box");
    }
    return out;
}

}  // namespace cellkit
