#include <cmath>

#include "common/number_format.hpp"
#include "lammps/type_registry.hpp"

namespace cellkit {
namespace {

using fmt::cat;
using fmt::Fixed;

constexpr double tolerance = 1e-6;

// NaN on either side compares unequal, as a conflict.
bool close(double a, double b) { return std::fabs(a - b) < tolerance; }

bool same(const ResolvedBond& a, const ResolvedBond& b) {
    return a.placeholder == b.placeholder && close(a.k, b.k) && close(a.r0, b.r0);
}
bool same(const ResolvedAngle& a, const ResolvedAngle& b) {
    return a.placeholder == b.placeholder && close(a.k, b.k) && close(a.angle0, b.angle0);
}
bool same(const ResolvedDihedral& a, const ResolvedDihedral& b) {
    return close(a.K1, b.K1) && close(a.K2, b.K2) && close(a.K3, b.K3) && close(a.K4, b.K4);
}

std::string conflict(const std::array<std::string, 2>& key, const std::string& molecule, const ResolvedBond& b,
                     const ResolvedBond& stored) {
    return cat("conflicting bond parameters for type pair (", key[0], ", ", key[1], "): molecule '", molecule,
               "' resolves to k=", Fixed{b.k, 4}, " r0=", Fixed{b.r0, 4}, ", but an earlier molecule resolved to k=",
               Fixed{stored.k, 4}, " r0=", Fixed{stored.r0, 4});
}
std::string conflict(const std::array<std::string, 3>& key, const std::string& molecule, const ResolvedAngle& a,
                     const ResolvedAngle& stored) {
    return cat("conflicting angle parameters for type triple (", key[0], ", ", key[1], ", ", key[2], "): molecule '",
               molecule, "' resolves to k=", Fixed{a.k, 4}, " angle0=", Fixed{a.angle0, 4},
               ", but an earlier molecule resolved to k=", Fixed{stored.k, 4}, " angle0=", Fixed{stored.angle0, 4});
}
std::string conflict(const std::array<std::string, 4>& key, const std::string& molecule, const ResolvedDihedral& d,
                     const ResolvedDihedral& stored) {
    return cat("conflicting torsion parameters for type quadruple (", key[0], ", ", key[1], ", ", key[2], ", ",
               key[3], "): molecule '", molecule, "' resolves to K1=", Fixed{d.K1, 4}, " K2=", Fixed{d.K2, 4},
               " K3=", Fixed{d.K3, 4}, ", but an earlier molecule resolved to K1=", Fixed{stored.K1, 4},
               " K2=", Fixed{stored.K2, 4}, " K3=", Fixed{stored.K3, 4});
}


template <typename Registry, typename Records, typename Select>
Registry build_registry(const ActiveSpeciesList& active, Records ResolvedMolecule::*records, Select select) {
    Registry registry;
    for (const ActiveSpecies& species : active) {
        if (species.count == 0) continue;
        for (const auto& record : species.resolved.*records) {
            const auto& value = select(record);
            const auto key = type_key(value);
            if (const auto* stored = registry.insert_or_get(key, value); stored && !same(value, *stored)) {
                throw Error(conflict(key, species.resolved.molecule->name, value, *stored));
            }
        }
    }
    return registry;
}

}  // namespace

AtomTypeRegistry build_atom_type_registry(const ActiveSpeciesList& active, const ForceField& force_field) {
    AtomTypeRegistry registry;
    for (const ActiveSpecies& species : active) {
        if (species.count == 0) continue;
        const Molecule& molecule = *species.resolved.molecule;
        for (const PseudoAtom& atom : molecule.pseudo_atoms) {
            if (force_field.find(atom.type) == nullptr) {
                fail("molecule '", molecule.name, "' uses pseudo-atom type '", atom.type,
                     "' not present in the force field");
            }
            registry.insert_or_get(atom.type, NoValue{});
        }
    }
    if (registry.empty()) fail("no atoms to build: all species have count 0, or no species were given");
    return registry;
}

BondTypeRegistry build_bond_type_registry(const ActiveSpeciesList& active) {
    return build_registry<BondTypeRegistry>(active, &ResolvedMolecule::bonds,
                                            [](const BondRecord& r) -> const ResolvedBond& { return r.bond; });
}

AngleTypeRegistry build_angle_type_registry(const ActiveSpeciesList& active) {
    return build_registry<AngleTypeRegistry>(active, &ResolvedMolecule::angles,
                                             [](const AngleRecord& r) -> const ResolvedAngle& { return r.angle; });
}

DihedralTypeRegistry build_dihedral_type_registry(const ActiveSpeciesList& active) {
    return build_registry<DihedralTypeRegistry>(
        active, &ResolvedMolecule::dihedrals,
        [](const DihedralRecord& r) -> const ResolvedDihedral& { return r.dihedral; });
}

TypeRegistries build_type_registries(const ActiveSpeciesList& active, const ForceField& force_field) {
    TypeRegistries registries;
    registries.atoms = build_atom_type_registry(active, force_field);
    registries.bonds = build_bond_type_registry(active);
    registries.angles = build_angle_type_registry(active);
    registries.dihedrals = build_dihedral_type_registry(active);
    return registries;
}

}  // namespace cellkit
