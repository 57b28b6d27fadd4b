"""What the command tells before and after a build, read from the JSON inputs: molecules, atoms,
box edge, net charge. Lenient on purpose: a file it cannot make sense of yields None, and the build
itself then reports the fault in its own words."""

from __future__ import annotations

import json
import math
import os
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

AVOGADRO = 6.02214076e23


@dataclass(frozen=True)
class Outline:
    molecules: int
    atoms: int
    mass: float  # g/mol, the whole box
    charge: float  # e, the whole box

    def volume(self, density: float) -> float:
        """Volume (Å³) that this mass fills at `density` (kg/m³)."""
        return self.mass / AVOGADRO / (density / 1000.0) * 1e24


def box_edges(volume: float, aspect: Sequence[float], vacuum: float) -> tuple[float, float, float]:
    """The box (Å) of a liquid of `volume` Å³ with edge ratios `aspect`, and `vacuum` Å added along z."""
    scale = (volume / (aspect[0] * aspect[1] * aspect[2])) ** (1.0 / 3.0)
    return (scale * aspect[0], scale * aspect[1], scale * aspect[2] + vacuum)


def _field(doc: Any, key: str, index: int) -> Any:
    # Every object of these files may also be written as an array of its values in a fixed order.
    if isinstance(doc, dict):
        return doc.get(key)
    if isinstance(doc, list) and index < len(doc):
        return doc[index]
    return None


def _load(path: str | os.PathLike[str]) -> Any:
    with open(path, encoding="utf-8") as f:
        return json.load(f)


def outline(species: Sequence[str | os.PathLike[str]], counts: Sequence[int],
            force_field: str | os.PathLike[str]) -> Outline | None:
    """Totals over the species with a count above 0, or None if the inputs do not allow them."""
    try:
        params = {}
        for entry in _field(_load(force_field), "PseudoAtoms", 2):
            params[_field(entry, "name", 0)] = (float(_field(entry, "mass", 1)), float(_field(entry, "charge", 2)))
        molecules = atoms = 0
        mass: list[float] = []
        charge: list[float] = []
        for path, count in zip(species, counts, strict=True):
            if count == 0:
                continue
            names = [atom[0] for atom in _field(_load(path), "pseudoAtoms", 1)]
            molecules += count
            atoms += count * len(names)
            mass.append(count * math.fsum(params[n][0] for n in names))
            charge.append(count * math.fsum(params[n][1] for n in names))
        return Outline(molecules, atoms, math.fsum(mass), math.fsum(charge))
    except (OSError, ValueError, TypeError, KeyError, IndexError):
        return None


def atom_labels(species: Sequence[str | os.PathLike[str]], counts: Sequence[int],
                force_field: str | os.PathLike[str]) -> list[tuple[frozenset[str], str]] | None:
    """For each atom of the box, in species -> molecule -> atom order, the labels a coordinates file
    may give it (lower case: its type name, the force field's "element" and "print_as" for it, the
    element its name starts with) and how to name it; None if the inputs do not allow it."""
    from .pdb import element_of

    try:
        names: dict[str, set[str]] = {}
        for entry in _field(_load(force_field), "PseudoAtoms", 2):
            if isinstance(entry, dict):
                names[entry["name"]] = {v for k in ("element", "print_as") if isinstance(v := entry.get(k), str)}
        out = []
        for path, count in zip(species, counts, strict=True):
            if count == 0:
                continue
            doc = _load(path)
            types = [atom[0] for atom in _field(doc, "pseudoAtoms", 1)]
            molecule = os.path.splitext(os.path.basename(os.fsdecode(path)))[0]  # as the build names it
            for m in range(count):
                for t in types:
                    labels = {t, element_of(t), *names.get(t, set())} - {""}
                    out.append((frozenset(x.lower() for x in labels), f"a {t} of {molecule} (molecule {m + 1})"))
        return out
    except (OSError, ValueError, TypeError, KeyError, IndexError):
        return None

