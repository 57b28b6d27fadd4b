// What a molecule file's template coordinates say by themselves: atoms that coincide, and the bonds
// of a rigid molecule that names none.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "ff/molecule.hpp"

namespace cellkit {

// Atoms closer than this (Å) are taken as one point: no real site pair comes near it (the closest,
// TIP4P's O-M, is 0.15 Å), and RASPA3's flexible molecule files put every atom at the origin.
inline constexpr double min_atom_distance = 0.01;

// The first pair (i < j, by i then j) of atoms closer than min_atom_distance, if any.
std::optional<AtomPair> coincident_atoms(const std::vector<PseudoAtom>& atoms);

// The first pair (i < j, by i then j) of points closer than limit(i, j), which must not exceed
// `reach` (Å); the search is linear in the number of points. Coordinates too large for a cell of
// that size share one cell, as their pairs are past every limit anyway.
std::optional<AtomPair> first_close_pair(const std::vector<Vec3>& points, double reach,
                                         const std::function<double(std::size_t, std::size_t)>& limit);

// Bonds joining every atom to the template's nearest others: the spanning tree of shortest total
// length (Prim's, ties to the lower index), each pair written (atom already joined, atom joined).
std::vector<AtomPair> spanning_bonds(const std::vector<PseudoAtom>& atoms);

}  // namespace cellkit
