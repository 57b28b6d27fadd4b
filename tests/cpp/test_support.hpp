// Builders for in-memory molecules, so writer tests need no input files.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "cli/active_species.hpp"
#include "ff/force_field.hpp"
#include "ff/molecule.hpp"

namespace cellkit::testing {

inline Molecule molecule(std::string name, std::vector<PseudoAtom> atoms, std::vector<AtomPair> connectivity = {},
                         bool rigid = false) {
    Molecule m;
    m.name = std::move(name);
    m.pseudo_atoms = std::move(atoms);
    m.connectivity = std::move(connectivity);
    m.rigid = rigid;
    return m;
}

inline PseudoAtomParams params(double mass, double charge, double epsilon = 0.0, double sigma = 0.0,
                               std::vector<std::string> sources = {}) {
    return PseudoAtomParams{mass, charge, epsilon, sigma, std::move(sources)};
}

// Resolves each (molecule, count); the molecules must outlive the list.
inline ActiveSpeciesList active(const std::vector<std::pair<const Molecule*, std::uint64_t>>& species) {
    ActiveSpeciesList list;
    for (const auto& [m, count] : species) list.push_back({resolve_molecule(*m), count});
    return list;
}

}  // namespace cellkit::testing
