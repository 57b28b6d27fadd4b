#include "packmol/box_size.hpp"

#include <algorithm>
#include <cmath>

#include "common/error.hpp"

namespace cellkit {

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
    constexpr double avogadro = 6.02214076e23;
    // grams / (g/cm³) = cm³; 1 cm³ = 1e24 Å³.
    return std::cbrt(mass / avogadro / (density / 1000.0) * 1e24);
}

}  // namespace cellkit
