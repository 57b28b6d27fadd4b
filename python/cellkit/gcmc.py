"""A framework loaded with guest molecules by RASPA3's grand-canonical Monte Carlo at a temperature and
pressure: the positions of the framework's and the guests' atoms and the loading RASPA3 measured.

RASPA3 runs in a child interpreter, as on the RASPA3 route (Ctrl-C ends it at once). The framework is
read from its CIF file by `cellkit.framework` in this process and handed to RASPA3 as a list of every
atom of the unit cell in fractional coordinates (RASPA3's CIF reader cannot be reached from Python).
Guests are rigid bodies, as RASPA3's Python API takes them; their fugacity follows from the critical
constants of their molecule files (CriticalTemperature in K, CriticalPressure in Pa, AcentricFactor),
by RASPA3's Peng-Robinson equation of state."""

from __future__ import annotations

import json
import math
import os
import tempfile
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from .framework import Cell, Framework, cells_for
from .raspa_init import (DEFAULT_SEED, KCAL_PER_KELVIN, RASPA3_KELVIN, Vec3, _check_cycles, _check_positive,
                         _import_raspalib, _load_force_field, _load_molecule, _read_json, _run_in_child)

__all__ = ["Loading", "gcmc_with_raspa3", "lammps_box", "write_lammps"]

CRITICAL_KEYS = ("CriticalTemperature", "CriticalPressure", "AcentricFactor")
RASPA3_CUTOFF = 12.0  # Å, RASPA3's cut-off when the force field names none


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
    # RASPA3's energies (kcal/mol) of the final configuration: "framework_guest_vdw", "guest_guest_vdw"
    # (Lennard-Jones pair sums, without tail corrections) and "coulomb" (all of the Ewald sum but the
    # framework's own share, which RASPA3 never counts).
    energies: dict[str, float]

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
    plan, ff = _plan(framework, molecule_paths, force_field_path, cells)
    plan.update(temperature=temperature, pressure=pressure, seed=seed, cycles=(init_cycles, prod_cycles))
    chosen, species = plan["framework"]["cells"], plan["species"]
    positions, final, average, energies = _run_in_child(plan)
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
                   cell_mass * chosen[0] * chosen[1] * chosen[2], energies)


def _plan(framework: Framework, molecule_paths: Sequence[str | os.PathLike[str]],
          force_field_path: str | os.PathLike[str], cells: Sequence[int] | None) -> tuple[dict[str, Any], Any]:
    """RASPA3's model of the framework and the guests, checked; and the force field as read."""
    ff_path = os.fsdecode(force_field_path)
    ff = _load_force_field(ff_path)
    framework_types = {a.pseudo_atom for a in framework.atoms}
    if cells is not None and (len(cells) != 3 or min(cells) < 1):
        raise ValueError(f"cells must be three whole numbers of at least 1, got {cells!r}")
    # The model in the box that LAMMPS will have: automatic Coulomb cut-offs and Ewald sums depend on it,
    # and the cut-offs on the model. RASPA3's default cut-off first; then its own, if it needs more cells.
    chosen = cells_for(framework.cell, RASPA3_CUTOFF) if cells is None else tuple(int(n) for n in cells)
    settings = _model_settings(ff_path, framework.cell, chosen)
    cutoff = max(settings["cutoff_vdw"], settings["cutoff_coulomb"] if settings["charges"] else 0.0)
    if cells is None and cells_for(framework.cell, cutoff) != chosen:
        chosen = cells_for(framework.cell, cutoff)
        settings = _model_settings(ff_path, framework.cell, chosen)
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
        "species": species, "cutoff_vdw": settings["cutoff_vdw"],
        "cutoff_coulomb": settings["cutoff_coulomb"], "shifted": settings["shifted"],
        "tail_corrections": settings["tail_corrections"],
        "use_charge": settings["charges"] and any(ff.pseudo_atoms[k].charge != 0.0 for k in kinds),
    }
    return plan, ff


def _model_settings(force_field_path: str, cell: Cell, cells: Sequence[int]) -> dict[str, Any]:
    from .raspa_init import model

    # The model reads the box's widths only, which a tilted box has as an upright one of those edges.
    return model(force_field_path, [n * w for n, w in zip(cells, cell.widths(), strict=True)])


def run_in_child(plan: dict[str, Any]) -> Any:
    """The RASPA3 run of `plan` (in the child interpreter): the positions, the final and average loadings
    and the energies after the Monte Carlo."""
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
    return [tuple(atom.position) for atom in done.atom_data], final, average, _energies(raspa, done)


def _energies(raspa: Any, system: Any) -> dict[str, float]:
    e = system.compute_total_energies()
    kcal = RASPA3_KELVIN * KCAL_PER_KELVIN
    return {"framework_guest_vdw": kcal * e.framework_molecule_vdw, "guest_guest_vdw": kcal * e.molecule_molecule_vdw,
            "coulomb": kcal * e.coulomb_energy()}


type Box6 = tuple[float, float, float, float, float, float]


def lammps_box(cell: Cell) -> Box6:
    """LAMMPS's restricted triclinic box of `cell`: lx, ly, lz, xy, xz, yz (Å). Each tilt is brought
    within half its edge by taking whole cell vectors off c and b (the same lattice, so the same
    periodic system): LAMMPS runs a box skewed further inefficiently."""
    a, b, c = cell.vectors()
    lx, ly, lz, xy, xz, yz = a[0], b[1], c[2], b[0], c[0], c[1]
    k = round(yz / ly)
    yz, xz = yz - k * ly, xz - k * xy
    xz -= round(xz / lx) * lx
    xy -= round(xy / lx) * lx
    return (lx, ly, lz, xy, xz, yz)


def _into_box(points: Sequence[Vec3], box: Box6, whole: bool) -> list[Vec3]:
    """`points` moved by whole cells into the box: each on its own, or (`whole`) together by their
    mean, so that a molecule stays whole."""
    lx, ly, lz, xy, xz, yz = box

    def shift(p: Sequence[float]) -> Vec3:
        # Fractional coordinates of the restricted triclinic cell, c first as its vector alone has z.
        sz = math.floor(p[2] / lz)
        sy = math.floor((p[1] - sz * yz) / ly)
        sx = math.floor((p[0] - sy * xy - sz * xz) / lx)
        return (sx * lx + sy * xy + sz * xz, sy * ly + sz * yz, sz * lz)

    if not whole:
        return [(p[0] - d[0], p[1] - d[1], p[2] - d[2]) for p in points for d in (shift(p),)]
    n = len(points)
    d = shift(tuple(math.fsum(p[k] for p in points) / n for k in range(3)))
    return [(p[0] - d[0], p[1] - d[1], p[2] - d[2]) for p in points]


def write_lammps(loading: Loading, framework: Framework, molecule_paths: Sequence[str | os.PathLike[str]],
                 force_field_path: str | os.PathLike[str], out_dir: str | os.PathLike[str], pair_style: Any,
                 explicit_lb: bool = False, starter: Any = None) -> str:
    """data.lmp and forcefield.lmp (and in.lammps with `starter`) of a loaded framework, through the
    coordinates route of the core: the framework one molecule ("Type": "framework", held still, its
    own pairs left out), its atoms in the box one by one; the guests whole, each molecule moved into
    the box by its centre. Returns the build summary."""
    from . import _native

    box = lammps_box(loading.box)
    cells = loading.cells[0] * loading.cells[1] * loading.cells[2]
    kinds = [a.pseudo_atom for a in framework.atoms] * cells
    placed = _into_box(loading.framework, box, whole=False)
    coords: list[Vec3] = list(placed)
    for molecules in loading.molecules:
        for molecule in molecules:
            coords.extend(_into_box(molecule, box, whole=True))
    with tempfile.TemporaryDirectory(prefix="cellkit-framework-") as scratch:
        # The framework as a molecule file of its own name, which names it in data.lmp and the summary.
        path = os.path.join(scratch, f"{framework.name}.json")
        with open(path, "w", encoding="utf-8") as f:
            json.dump({"Type": "framework", "pseudoAtoms": [[k, list(p)] for k, p in zip(kinds, placed, strict=True)]},
                      f)
        return _native.pack_from_coords_py(
            [path, *map(os.fsdecode, molecule_paths)], [1, *loading.final], coords, box, pair_style, explicit_lb,
            os.fsdecode(force_field_path), os.fsdecode(out_dir), lammps_input=starter)
