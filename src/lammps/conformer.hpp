// A starting geometry for a flexible molecule whose file gives none: RASPA3 grows such molecules by
// configurational-bias Monte Carlo and puts every atom at the origin, but Packmol needs a shape to pack.
#pragma once

#include <string>
#include <vector>

#include "common/vec3.hpp"
#include "ff/molecule.hpp"

namespace cellkit {

// Positions, in file order, of one conformer of a flexible molecule built from its own terms:
// every bond at the r0 of its Bonds entry and, walking the bonds breadth first from atom 0, every
// atom at the theta0 of its Bends entry with the atom it hangs from and that atom's predecessor.
// The first atom hung from an atom takes the dihedral of lowest energy of its Torsions entry
// (trans, 180 degrees, without one); its siblings turn about the bond so that their bends with it
// are exact as well where the geometry allows, which makes a tetrahedral centre come out right.
// Atom 0 sits at the origin, its first neighbour on +x, the first bend in the xy plane (y > 0).
// The bonds must form a tree (a chain or a branched molecule) and every bond and bend needs a
// HARMONIC or FIXED Bonds and a HARMONIC Bends entry; atoms that end up closer than 1 Å without a
// bond between them are refused rather than handed to Packmol.
// Throws Error "{shown}: ..." naming the file (`shown`, its display form) and the atoms involved.
std::vector<Vec3> build_conformer(const Molecule& molecule, const std::string& shown);

}  // namespace cellkit
