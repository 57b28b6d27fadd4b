"""A framework loaded with guest molecules by RASPA3's grand-canonical Monte Carlo at a temperature and
pressure: the positions of the framework's and the guests' atoms and the loading RASPA3 measured.

RASPA3 runs in a child interpreter, as on the RASPA3 route (Ctrl-C ends it at once). The framework is
read from its CIF file by `cellkit.framework` in this process and handed to RASPA3 as a list of every
atom of the unit cell in fractional coordinates (RASPA3's CIF reader cannot be reached from Python).
Guests are rigid bodies, as RASPA3's Python API takes them; their fugacity follows from the critical
constants of their molecule files (CriticalTemperature in K, CriticalPressure in Pa, AcentricFactor),
by RASPA3's Peng-Robinson equation of state."""

from __future__ import annotations

import math
import os
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from .framework import Cell, Framework, cells_for
from .raspa_init import (DEFAULT_SEED, Vec3, _check_cycles, _check_positive, _import_raspalib, _load_force_field,
                         _load_molecule, _read_json, _run_in_child)

__all__ = ["Loading", "gcmc_with_raspa3"]

CRITICAL_KEYS = ("CriticalTemperature", "CriticalPressure", "AcentricFactor")


@dataclass(frozen=True)
class Loading:
    cells: tuple[int, int, int]  # unit cells along a, b, c
    box: Cell  # the whole simulation box
    framework: list[Vec3]  # Cartesian positions (Å) of the framework atoms, unit cell by unit cell (a fastest)
    molecules: list[list[list[Vec3]]]  # per species, per molecule, its atoms (Å), each molecule whole
    final: list[int]  # molecules per species at the end of the run
    average: list[tuple[float, float]]  # per species, RASPA3's average over the production cycles and its error
    names: list[str]  # of the species
    framework_mass: float  # g/mol, of the framework in the whole box

    def per_unit_cell(self, species: int) -> tuple[float, float]:
        """The average loading and its error, in molecules per unit cell."""
        n = self.cells[0] * self.cells[1] * self.cells[2]
        mean, error = self.average[species]
        return mean / n, error / n

    def mol_per_kg(self, species: int) -> tuple[float, float]:
        """The average loading and its error, in mol per kg of framework."""
        mean, error = self.average[species]
        return mean / (self.framework_mass / 1000.0), error / (self.framework_mass / 1000.0)

    def __str__(self) -> str:
        lines = [f"loading in {self.cells[0]} × {self.cells[1]} × {self.cells[2]} unit cells:"]
        for k, name in enumerate(self.names):
            (mean, error), (cell, cell_error), (kg, kg_error) = self.average[k], self.per_unit_cell(k), \
                self.mol_per_kg(k)
            lines.append(f"  {name}: {self.final[k]} at the end; average {mean:.2f} ± {error:.2f} molecules, "
                         f"{cell:.3f} ± {cell_error:.3f} per unit cell, {kg:.4f} ± {kg_error:.4f} mol/kg")
        return "\n".join(lines)


def _critical_constants(path: str) -> tuple[float, float, float]:
    doc = _read_json(path)
    values: list[float] = []
    for key in CRITICAL_KEYS:
        v = doc.get(key) if isinstance(doc, dict) else None
        if not isinstance(v, (int, float)) or isinstance(v, bool) or not math.isfinite(v):
            raise ValueError(f"{path} gives no {', '.join(CRITICAL_KEYS)}, which RASPA3 needs for the fugacity of "
                             "the molecule at the pressure asked")
        values.append(float(v))
    return (values[0], values[1], values[2])


def gcmc_with_raspa3(framework: Framework, molecule_paths: Sequence[str | os.PathLike[str]],
                     force_field_path: str | os.PathLike[str], temperature: float, pressure: float,
                     cells: Sequence[int] | None = None, n_init_cycles: int = 1000, n_prod_cycles: int = 1000,
                     seed: int = DEFAULT_SEED) -> Loading:
    """Loads `framework` with the molecules of `molecule_paths` at `temperature` (K) and `pressure` (Pa) by
    RASPA3's grand-canonical Monte Carlo (`n_init_cycles` then `n_prod_cycles`), in a box of `cells` unit
    cells, or the fewest whose widths are twice the force field's largest cut-off. The force field's
    Lennard-Jones model (its cut-off, TruncationMethod and TailCorrections) and charges are given to RASPA3
    as on the RASPA3 route. Raises ValueError naming the file or the value for bad arguments, a species
    that uses a framework pseudo-atom, or a molecule file without critical constants."""
    temperature = _check_positive("temperature", temperature, "K")
    pressure = _check_positive("pressure", pressure, "Pa")
    init_cycles = _check_cycles("n_init_cycles", n_init_cycles)
    prod_cycles = _check_cycles("n_prod_cycles", n_prod_cycles)
    ff_path = os.fsdecode(force_field_path)
    ff = _load_force_field(ff_path)
    framework_types = {a.pseudo_atom for a in framework.atoms}
    settings = _model_settings(ff_path)
    cutoff = max(settings["cutoff_vdw"], settings["cutoff_coulomb"])
    chosen = cells_for(framework.cell, cutoff) if cells is None else tuple(int(n) for n in cells)
    if len(chosen) != 3 or min(chosen) < 1:
        raise ValueError(f"cells must be three whole numbers of at least 1, got {cells!r}")
    widths = [n * w for n, w in zip(chosen, framework.cell.widths(), strict=True)]
    if min(widths) < 2.0 * cutoff:
        raise ValueError(f"{chosen[0]} x {chosen[1]} x {chosen[2]} unit cells of {framework.name} are "
                         f"{min(widths):.3f} Å wide at the narrowest, less than twice the {cutoff:g} Å cut-off: "
                         f"take at least {' x '.join(map(str, cells_for(framework.cell, cutoff)))}")
    species = []
    for path in map(os.fsdecode, molecule_paths):
        mol = _load_molecule(path)
        on_framework = sorted({kind for kind, _ in mol.atoms} & framework_types)
        if on_framework:
            raise ValueError(f"{path}: pseudo-atom {', '.join(on_framework)} belongs to the framework, not to a "
                             "guest molecule")
        species.append((mol.name, _critical_constants(path), [(kind, pos, ff.pseudo_atoms[kind].charge)
                                                                for kind, pos in mol.atoms]))
    _import_raspalib()
    kinds = list(dict.fromkeys([*framework_types, *(kind for _, _, atoms in species for kind, _, _ in atoms)]))
    plan = {
        "framework": {"name": framework.name, "cell": framework.cell, "cells": chosen,
                      "atoms": [(a.fractional, a.charge, a.pseudo_atom) for a in framework.atoms]},
        "pseudo_atoms": [(k, k in framework_types, ff.pseudo_atoms[k]) for k in kinds],
        "species": species, "temperature": temperature, "pressure": pressure, "seed": seed,
        "cycles": (init_cycles, prod_cycles), "cutoff_vdw": settings["cutoff_vdw"],
        "cutoff_coulomb": settings["cutoff_coulomb"], "shifted": settings["shifted"],
        "tail_corrections": settings["tail_corrections"],
        "use_charge": settings["charges"] and any(ff.pseudo_atoms[k].charge != 0.0 for k in kinds),
    }
    positions, final, average = _run_in_child(plan)
    n_framework = len(framework.atoms) * chosen[0] * chosen[1] * chosen[2]
    molecules: list[list[list[Vec3]]] = []
    at = n_framework
    for (_, _, atoms), count in zip(species, final, strict=True):
        molecules.append([positions[at + m * len(atoms): at + (m + 1) * len(atoms)] for m in range(count)])
        at += count * len(atoms)
    if at != len(positions):
        raise RuntimeError(f"RASPA3 returned {len(positions)} atoms, expected {at}")
    c = framework.cell
    box = Cell(c.a * chosen[0], c.b * chosen[1], c.c * chosen[2], c.alpha, c.beta, c.gamma)
    cell_mass = math.fsum(ff.pseudo_atoms[a.pseudo_atom].mass for a in framework.atoms)
    return Loading(chosen, box, positions[:n_framework], molecules, final, average, [name for name, _, _ in species],
                   cell_mass * chosen[0] * chosen[1] * chosen[2])


def _model_settings(force_field_path: str) -> dict[str, Any]:
    from .raspa_init import model

    # The box only matters for "auto" Coulomb cut-offs, which a framework run takes as the Lennard-Jones one.
    settings = model(force_field_path, 1e6)
    if settings["cutoff_coulomb"] >= 5e5:
        settings["cutoff_coulomb"] = settings["cutoff_vdw"]
    return settings


def run_in_child(plan: dict[str, Any]) -> tuple[list[Vec3], list[int], list[tuple[float, float]]]:
    """The RASPA3 run of `plan` (in the child interpreter)."""
    raspa = _import_raspalib()
    ff = raspa.ForceField([raspa.PseudoAtom(name, framework, a.mass, a.charge) for name, framework, a in
                           plan["pseudo_atoms"]],
                          [raspa.VDWParameters(a.epsilon, a.sigma) for _, _, a in plan["pseudo_atoms"]],
                          mixing_rule=raspa.ForceField.MixingRule.LORENTZ_BERTHELOT,
                          cutoff_framework_vdw=plan["cutoff_vdw"], cutoff_molecule_vdw=plan["cutoff_vdw"],
                          cutoff_coulomb=plan["cutoff_coulomb"], shifted=plan["shifted"],
                          tail_corrections=plan["tail_corrections"], use_charge=plan["use_charge"])
    index = {name: i for i, (name, _, _) in enumerate(plan["pseudo_atoms"])}
    fw = plan["framework"]
    cell: Cell = fw["cell"]
    # Radians, although RASPA3's stub says degrees.
    unit_cell = raspa.SimulationBox(cell.a, cell.b, cell.c, math.radians(cell.alpha), math.radians(cell.beta),
                                    math.radians(cell.gamma))
    atoms = [raspa.Atom(f, q, 1.0, 0, index[name], 0) for f, q, name in fw["atoms"]]
    framework = raspa.Framework(ff, fw["name"], unit_cell, 1, atoms, list(fw["cells"]))
    components = []
    for component_id, (name, (tc, pc, omega), guest) in enumerate(plan["species"]):
        moves = raspa.MCMoveProbabilities(translation_probability=0.5,
                                          rotation_probability=0.5 if len(guest) > 1 else 0.0,
                                          reinsertion_cbmc_probability=0.5, swap_probability=1.0)
        defined = [raspa.Atom(pos, q, 1.0, 0, index[kind], component_id) for kind, pos, q in guest]
        components.append(raspa.Component(ff, name, tc, pc, omega, defined_atoms=defined,
                                          particle_probabilities=moves))
    system = raspa.System(ff, external_temperature=plan["temperature"], external_pressure=plan["pressure"],
                          framework_components=framework, components=components,
                          initial_number_of_molecules=[0] * len(components))
    init_cycles, prod_cycles = plan["cycles"]
    mc = raspa.MonteCarlo(number_of_cycles=prod_cycles, number_of_initialization_cycles=init_cycles,
                          systems=[system], random_seed=plan["seed"], output_to_files=False)
    mc.run()
    done = mc.systems[0]
    final = [int(n) for n in done.number_of_molecules_per_component]
    average = [tuple(float(x) for x in done.average_loadings.average_loading_number_of_molecules(k))
               for k in range(len(components))]
    return [tuple(atom.position) for atom in done.atom_data], final, average  # type: ignore[return-value]
