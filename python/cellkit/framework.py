"""A porous framework (a zeolite, a MOF) from a CIF file, as RASPA3 takes it: the unit cell, every atom
of the cell (the CIF's symmetry applied) matched to a framework pseudo-atom of the force field, and
the number of cells a simulation box needs for a cut-off.

The CIF is read with gemmi, the crystallography library of structural biology and materials codes
(pip install 'cellkit[gcmc]'). RASPA3's rules are followed: a site's label names its pseudo-atom
as written or without its trailing digits ("Si12" is "Si"); the charges are the pseudo-atoms'
unless the CIF's `_atom_site_charge` is asked for; symmetry copies closer than 0.1 Å are one atom."""

from __future__ import annotations

import json
import math
import os
import re
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

__all__ = ["Cell", "Framework", "FrameworkAtom", "cells_for", "read_framework"]

# Symmetry copies of a site closer than this (Å) are one atom.
SAME_ATOM = 0.1

Vec3 = tuple[float, float, float]


@dataclass(frozen=True)
class Cell:
    """A unit cell: edges a, b, c in Å and angles alpha, beta, gamma in degrees."""

    a: float
    b: float
    c: float
    alpha: float
    beta: float
    gamma: float

    def vectors(self) -> tuple[Vec3, Vec3, Vec3]:
        """The edge vectors in the orientation LAMMPS's restricted triclinic box and RASPA3 share: a
        along x, b in the xy plane (xy = b cos gamma), c with xz = c cos beta and
        yz = c (cos alpha - cos beta cos gamma) / sin gamma."""
        # A right angle gives no tilt at all, not the 1e-16 of cos(pi/2).
        ca, cb, cg = (0.0 if x == 90.0 else math.cos(math.radians(x)) for x in (self.alpha, self.beta, self.gamma))
        sg = 1.0 if self.gamma == 90.0 else math.sin(math.radians(self.gamma))
        xz, yz = self.c * cb, self.c * (ca - cb * cg) / sg
        return (self.a, 0.0, 0.0), (self.b * cg, self.b * sg, 0.0), (xz, yz, math.sqrt(self.c**2 - xz**2 - yz**2))

    def volume(self) -> float:
        (ax, _, _), (_, by, _), (_, _, cz) = self.vectors()
        return ax * by * cz

    def widths(self) -> Vec3:
        """The distances between opposite faces (Å): across a (between the b-c faces), across b, across c."""
        a, b, c = self.vectors()
        volume = self.volume()
        return (volume / _norm(_cross(b, c)), volume / _norm(_cross(c, a)), volume / _norm(_cross(a, b)))


@dataclass(frozen=True)
class FrameworkAtom:
    label: str  # the CIF site's
    pseudo_atom: str  # the force field's pseudo-atom it is
    fractional: Vec3  # in [0, 1)
    charge: float  # e


@dataclass(frozen=True)
class Framework:
    name: str  # the CIF file's stem, as RASPA3 names a framework
    cell: Cell
    space_group: str  # Hermann-Mauguin symbol as the CIF gives it
    sites: int  # in the CIF's asymmetric unit
    atoms: list[FrameworkAtom]  # the whole unit cell


def _cross(u: Vec3, v: Vec3) -> Vec3:
    return (u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0])


def _norm(u: Vec3) -> float:
    return math.sqrt(u[0] ** 2 + u[1] ** 2 + u[2] ** 2)


def cells_for(cell: Cell, cutoff: float) -> tuple[int, int, int]:
    """The fewest unit cells along a, b and c that make every perpendicular width of the box at least
    twice `cutoff` (Å): then RASPA3, which counts the nearest image only, and LAMMPS count the same
    pairs."""
    if not (cutoff > 0 and math.isfinite(cutoff)):
        raise ValueError(f"the cut-off must be a positive number of Å, got {cutoff!r}")
    n = [max(1, math.ceil(2.0 * cutoff / width - 1e-12)) for width in cell.widths()]
    return (n[0], n[1], n[2])


def _framework_pseudo_atoms(force_field: str) -> dict[str, float]:
    """Name -> charge of the PseudoAtoms entries marked "framework": true."""
    with open(force_field, encoding="utf-8") as f:
        doc: Any = json.load(f)
    entries = doc.get("PseudoAtoms") if isinstance(doc, dict) else None
    if not isinstance(entries, list):
        raise ValueError(f"{force_field} has no PseudoAtoms list")
    return {e["name"]: float(e.get("charge", 0.0)) for e in entries
            if isinstance(e, dict) and e.get("framework") is True and isinstance(e.get("name"), str)}


def _pseudo_atom_of(label: str, known: dict[str, float]) -> str | None:
    if label in known:
        return label
    bare = re.sub(r"\d+$", "", label)
    return bare if bare in known else None


def read_framework(cif: str | os.PathLike[str], force_field: str | os.PathLike[str],
                   cif_charges: bool = False) -> Framework:
    """The framework of `cif` with its atoms matched to the framework pseudo-atoms of `force_field`.
    Raises ValueError naming the file for a CIF gemmi cannot read or without atoms, and naming the
    label for a site that matches no framework pseudo-atom; ImportError when gemmi is missing."""
    try:
        import gemmi
    except ImportError as e:
        raise ImportError(f"reading a CIF file needs gemmi: pip install 'cellkit[gcmc]' ({e})") from e
    path, ff = os.fsdecode(cif), os.fsdecode(force_field)
    try:
        block = gemmi.cif.read_file(path).sole_block()
        structure = gemmi.make_small_structure_from_block(block)
    except (RuntimeError, ValueError, OSError) as e:
        raise ValueError(f"{path} cannot be read as a CIF file: {e}") from None
    if not structure.sites:
        raise ValueError(f"{path} has no atom sites (_atom_site_fract_x, ...)")
    known = _framework_pseudo_atoms(ff)
    names = {site.label: _pseudo_atom_of(site.label, known) for site in structure.sites}
    for label, name in names.items():
        if name is None:
            listed = ", ".join(sorted(known)) or "none"
            raise ValueError(f"{path}: site '{label}' matches no framework pseudo-atom of {ff}, as written or "
                             f"without its trailing digits (its framework pseudo-atoms: {listed})")
    charges = {}
    if cif_charges:
        labels, values = list(block.find_values("_atom_site_label")), list(block.find_values("_atom_site_charge"))
        if len(values) != len(labels):
            raise ValueError(f"{path} has no _atom_site_charge for every site")
        charges = {gemmi.cif.as_string(k): gemmi.cif.as_number(v) for k, v in zip(labels, values, strict=True)}
    cell = Cell(*(float(x) for x in (structure.cell.a, structure.cell.b, structure.cell.c, structure.cell.alpha,
                                      structure.cell.beta, structure.cell.gamma)))
    a, b, c = cell.vectors()
    atoms: list[FrameworkAtom] = []
    for site in structure.get_all_unit_cell_sites():
        f = tuple(x - math.floor(x) for x in (site.fract.x, site.fract.y, site.fract.z))
        if any(_periodic_distance(f, other.fractional, a, b, c) < SAME_ATOM for other in atoms):
            continue
        name = names[site.label]
        assert name is not None
        atoms.append(FrameworkAtom(site.label, name, (f[0], f[1], f[2]),
                                   charges[site.label] if cif_charges else known[name]))
    return Framework(os.path.splitext(os.path.basename(path))[0], cell, structure.spacegroup_hm,
                     len(structure.sites), atoms)


def _periodic_distance(f: Sequence[float], g: Sequence[float], a: Vec3, b: Vec3, c: Vec3) -> float:
    """The distance (Å) between two fractional positions by the nearest image in a cell."""
    d = [x - y - round(x - y) for x, y in zip(f, g, strict=True)]
    return _norm(tuple(d[0] * a[k] + d[1] * b[k] + d[2] * c[k] for k in range(3)))  # type: ignore[arg-type]
