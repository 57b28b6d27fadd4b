"""Starting boxes built by RASPA3 (its Python package `raspalib`): NVT Monte Carlo of rigid molecules.

The RASPA3 route of `cellkit._native` calls `pack_with_raspa3` in a Python subprocess; it can also be
called directly.
"""

from __future__ import annotations

import importlib
import json
import math
import os
import pickle
import signal
import subprocess
import sys
import warnings
from collections.abc import Callable, Sequence
from dataclasses import dataclass
from pathlib import Path
from typing import Any, NoReturn

__all__ = ["energies_with_raspa3", "model", "pack_with_raspa3"]

INSTALL_COMMAND = "pip install 'cellkit[raspa]'"
AVOGADRO = 6.02214076e23  # 1/mol
DEFAULT_SEED = 1234567  # where the random numbers start unless asked otherwise: the same box every time
# RASPA3 refuses to insert a molecule whose energy would exceed this (kelvin), so two atoms closer
# than the distance at which their Lennard-Jones energy reaches it are never placed: a hard core.
OVERLAP_ENERGY = 1e5
# RASPA3 inserts molecules at random, each retried until it fits, for ever once no room is left.
# Measured with raspalib 3.1, insertion jams when the cores fill 24 to 28 % of the box (methane,
# SPC/E and TIP5P water, CO2, rigid alkanes); long rigid chains jam earlier, when the excluded volumes
# of the molecules (their cores seen as spherocylinders) cover the box about 4.5 times (eicosane).
# Requests beyond these two limits are refused; up to them, insertion takes seconds at most.
MAX_CORE_FRACTION = 0.2
MAX_CROWDING = 3.0
# Template atoms closer than this (Å) are taken as unplaced: RASPA3's own flexible molecule files put
# every atom at the origin and let it grow the chain.
MIN_ATOM_DISTANCE = 0.01
# Pseudo-atoms without SelfInteractions get epsilon 0, and so do all their Lorentz-Berthelot pairs:
# their sigma scales nothing. It is 1.0 rather than 0.0 so that no code path divides by zero.
NO_LJ_SIGMA = 1.0

Vec3 = tuple[float, float, float]


def pack_with_raspa3(counts: Sequence[int], density: float | None, force_field_path: str | os.PathLike[str],
                     molecule_paths: Sequence[str | os.PathLike[str]], n_equil_cycles: int, n_init_cycles: int,
                     n_prod_cycles: int, temperature: float,
                     templates: Sequence[Sequence[Sequence[float]] | None] | None = None,
                     box: Sequence[float] | None = None, seed: int = DEFAULT_SEED,
                     ) -> tuple[float | list[float], list[list[float]]]:
    """Fills a box with molecules at a mass density and runs RASPA3's NVT Monte Carlo on it.

    Arguments: the number of molecules of each species (`counts`, one per file of `molecule_paths`),
    the mass density in kg/m³, the force-field file, the molecule files (both in cellkit's JSON
    formats), the numbers of equilibration, initialisation and production cycles and the
    temperature in kelvin.

    Returns `(box_len, coords)`: the edge of the cube in Å (the three edges, for `box`) and one
    `[x, y, z]` per atom in Å, in
    canonical order (species in the given order, their molecules one after another, each
    molecule's atoms in file order). Each molecule is whole, moved by whole box edges so that its
    centre lies in [0, box_len]; atoms of a molecule astride a face lie outside the box. LAMMPS
    (read_data) maps such atoms into a periodic box and sets their image flags, so molecules stay
    whole for fix rigid too; wrapping atoms one by one would leave them split with image flags 0,
    which LAMMPS warns about ("Inconsistent image flags").

    The box edge is the one the Packmol route computes: the total mass M (g/mol) of all molecules
    (count times the sum of the pseudo-atom masses of a molecule) gives
    L = cbrt(M / 6.02214076e23 / (density / 1000) * 1e24). `box`, the three edges along x, y and z
    (Å), gives a box of any rectangular shape instead; the density may then be None, and follows
    from the mass. `seed` starts RASPA3's random numbers: the same seed gives the same box.

    What RASPA3 is given, since its Python API takes no files:

    - molecules are rigid bodies in the shape of their template (the API has no bonded terms), moved
      by translations and, with two or more atoms, rotations; bonds, bends and torsions of the
      molecule files are not used;
    - Lennard-Jones parameters are the SelfInteractions entries, mixed by Lorentz-Berthelot for every
      unlike pair; BinaryInteractions entries cannot be passed on and are ignored (with a warning).
      Pseudo-atoms without a SelfInteractions entry have epsilon 0 (sigma 1.0, which then scales
      nothing);
    - each atom carries the charge of its pseudo-atom; with any charge present (and no
      "ChargeMethod": "None"), RASPA3 sums the Coulomb energy by Ewald;
    - the force field's own cut-offs, truncation and tail corrections, read as the force-field pair
      style of the LAMMPS files reads them (CutOffVDW or CutOff, 12 Å if absent; TruncationMethod;
      TailCorrections; CutOffCoulomb, half the box edge if absent or "auto"), each cut-off cut down
      to half the box edge when the box is smaller. RASPA3's Python API sets the Ewald precision to
      its default, 1e-6, whatever EwaldPrecision or EwaldParameters say.

    Species with count 0 are read but not inserted. `templates`, one entry per molecule file, gives
    positions that replace a file's template coordinates (None keeps them): the LAMMPS route passes
    the geometry it builds for a flexible molecule whose file puts every atom at one point.

    RASPA3 inserts the molecules at random while constructing its system, retrying each one until it
    overlaps nothing, without end once no room is left. The request is therefore checked first, and
    refused with a ValueError that names the highest density accepted, unless:

    - no molecule spans half the box edge or more (nor has two template atoms at one spot: the
      template is the rigid body's shape);
    - the hard cores of all atoms (spheres whose diameter is where two like atoms reach RASPA3's
      overlap energy of 1e5 K) fill at most 20 % of the box; insertion jams at 24 to 28 %;
    - the molecules' excluded volumes (their cores seen as spherocylinders) cover the box at most
      3 times, which binds only for long chains (all-trans eicosane jams at about 4.5).

    Up to these limits insertion took seconds at most in trials with methane, water, CO2 and rigid
    alkanes; liquid water, methane and alkanes up to octane pass. Bulkier molecules are inserted
    first, while there is room for them. For denser starting boxes use the Packmol route.

    RASPA3 runs in a child process: the calling interpreter stays free, and Ctrl-C stops the run at
    once (the child is killed; RASPA3 writes no files).

    Raises ImportError when raspalib cannot be imported (with the command that installs it),
    ValueError for bad arguments, unreadable or invalid input files and refused requests (naming the
    file or the limit), and RuntimeError when RASPA3 fails or returns something unusable.
    """
    counts = _check_counts(counts, molecule_paths)
    edges = _check_box(box) if box is not None else None
    if edges is None or density is not None:
        density = _check_positive("density", density, "kg/m³")  # type: ignore[arg-type]
    temperature = _check_positive("temperature", temperature, "K")
    if not _is_int(seed) or not 0 <= seed <= 2**31 - 1:
        raise ValueError(f"seed must be an integer from 0 to {2**31 - 1}, got {seed!r}")
    cycles = {name: _check_cycles(name, value) for name, value in
              (("n_init_cycles", n_init_cycles), ("n_equil_cycles", n_equil_cycles), ("n_prod_cycles", n_prod_cycles))}
    _import_raspalib()

    force_field = _load_force_field(os.fspath(force_field_path))
    molecules = _with_templates([_load_molecule(os.fspath(p)) for p in molecule_paths], templates)
    active = [(i, mol, count) for i, (mol, count) in enumerate(zip(molecules, counts)) if count > 0]
    if not active:
        raise ValueError("all species have count 0; nothing to build")
    if force_field.n_binary:
        used = {t for _, mol, _ in active for t, _ in mol.atoms}
        warnings.warn(f"{force_field.path}: RASPA3 is given Lorentz-Berthelot mixing for every unlike pair; its "
                      f"{force_field.n_binary} BinaryInteractions entries cannot be passed on and are ignored"
                      f" while packing (pseudo-atoms in the box: {', '.join(sorted(used))})", stacklevel=2)

    plan = _plan(active, force_field, density, temperature, cycles, edges)
    plan["seed"] = seed
    raspa_box, positions = _run_in_child(plan)
    if not all(math.isclose(a, b, rel_tol=1e-12) for a, b in zip(raspa_box, plan["box"])):
        raise RuntimeError(f"RASPA3 changed the box from {plan['box']} to {raspa_box} Å in an NVT run")
    return plan["box"][0] if box is None else list(plan["box"]), _canonical_coords(plan, positions)


# --- Arguments -----------------------------------------------------------------------------------

def _is_int(value: object) -> bool:
    return isinstance(value, int) and not isinstance(value, bool)


def _check_counts(counts: Sequence[int], paths: Sequence[object]) -> list[int]:
    counts, paths = list(counts), list(paths)
    if not paths:
        raise ValueError("at least one molecule file is required")
    if len(counts) != len(paths):
        raise ValueError(f"molecule_paths has {len(paths)} entries but counts has {len(counts)} (they must match 1:1)")
    for i, c in enumerate(counts):
        if not _is_int(c) or c < 0:
            raise ValueError(f"counts[{i}] must be a non-negative integer, got {c!r}")
    return counts


def _check_positive(name: str, value: float, unit: str) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)) or not math.isfinite(value) or value <= 0:
        raise ValueError(f"{name} must be a positive finite number ({unit}), got {value!r}")
    return float(value)


def _check_box(box: float | Sequence[float]) -> Vec3:
    """A cube's edge or three edges, as three positive edges (Å)."""
    if isinstance(box, (int, float)):
        edge = _check_positive("box_len", box, "Å")
        return (edge, edge, edge)
    edges = list(box)
    if len(edges) != 3:
        raise ValueError(f"box must be one edge or three (x, y, z), got {len(edges)}")
    a, b, c = (_check_positive(f"box edge {axis}", e, "Å") for axis, e in zip("xyz", edges))
    return (a, b, c)


def _check_cycles(name: str, value: int) -> int:
    if not _is_int(value) or value < 0:
        raise ValueError(f"{name} must be a non-negative integer, got {value!r}")
    return value


def _import_raspalib() -> Any:
    try:
        with warnings.catch_warnings():  # it warns that OpenCL is missing, which the CPU path never needs
            warnings.filterwarnings("ignore", "OpenCL library not found", RuntimeWarning)
            # By name, so type checkers leave its stubs (which do not parse in 3.1.0) alone.
            raspalib = importlib.import_module("raspalib")
    except ImportError as e:
        raise ImportError("pack_with_raspa3 needs RASPA3's Python package raspalib (CPython 3.12+ on Linux x86_64, "
                          "with libOpenCL.so.1 from Debian's ocl-icd-libopencl1); install it with "
                          f"{INSTALL_COMMAND} ({e})") from e
    return raspalib


# --- Input files ---------------------------------------------------------------------------------
# A small strict reader for what RASPA3 needs: keys are case-sensitive, unknown keys are skipped, a key
# given twice is an error, and each entry may be an object or an array of its values in key order.

@dataclass(frozen=True)
class _PseudoAtom:
    mass: float
    charge: float
    epsilon: float  # K
    sigma: float  # Å


@dataclass(frozen=True)
class _ForceField:
    path: str
    pseudo_atoms: dict[str, _PseudoAtom]
    n_binary: int


@dataclass(frozen=True)
class _Molecule:
    path: str
    name: str
    atoms: list[tuple[str, Vec3]]
    rigid: bool = True  # for LAMMPS; RASPA3 is given every molecule as a rigid body


class _Fault(ValueError):
    """A schema fault, reported as "parsing {path}: {fault}"."""


def _read_json(path: str) -> Any:
    try:
        text = Path(path).read_text(encoding="utf-8")
    except OSError as e:
        raise ValueError(f"reading {path}: {e.strerror or e}") from None
    except UnicodeDecodeError as e:
        raise ValueError(f"reading {path}: not UTF-8 text (byte {e.start})") from None
    try:
        return json.loads(text, object_pairs_hook=_unique_keys, parse_constant=_no_constant)
    except ValueError as e:  # json.JSONDecodeError (with line and column) or _Fault
        raise ValueError(f"parsing {path}: {e}") from None


def _unique_keys(pairs: list[tuple[str, Any]]) -> dict[str, Any]:
    obj: dict[str, Any] = {}
    for key, value in pairs:
        if key in obj:
            raise _Fault(f"duplicate field `{key}`")
        obj[key] = value
    return obj


def _no_constant(name: str) -> NoReturn:
    raise _Fault(f"{name} is not a JSON number")


def _show(value: Any) -> str:
    text = json.dumps(value)
    return text if len(text) <= 60 else text[:57] + "..."


def _fields(where: str, entry: Any, keys: tuple[str, ...], required: tuple[str, ...]) -> dict[str, Any]:
    """The members of an entry written as an object or as an array of its values in key order."""
    if isinstance(entry, list):
        if len(entry) > len(keys):
            raise _Fault(f"{where}: at most {len(keys)} values ({', '.join(keys)}), got {_show(entry)}")
        entry = dict(zip(keys, entry))
    elif not isinstance(entry, dict):
        raise _Fault(f"{where}: expected an object or an array, got {_show(entry)}")
    for key in required:
        if key not in entry:
            raise _Fault(f"{where}: missing field `{key}`")
    fields: dict[str, Any] = entry
    return fields


def _number(where: str, value: Any) -> float:
    if isinstance(value, bool) or not isinstance(value, (int, float)):
        raise _Fault(f"{where}: expected a number, got {_show(value)}")
    try:
        return float(value)
    except OverflowError:
        raise _Fault(f"{where}: {value} is out of range") from None


def _string(where: str, value: Any) -> str:
    if not isinstance(value, str):
        raise _Fault(f"{where}: expected a string, got {_show(value)}")
    return value


def _array(where: str, value: Any, length: int | None = None) -> list[Any]:
    if not isinstance(value, list):
        raise _Fault(f"{where}: expected an array, got {_show(value)}")
    if length is not None and len(value) != length:
        raise _Fault(f"{where}: expected {length} elements, got {len(value)}")
    return value


def _load_force_field(path: str) -> _ForceField:
    doc = _read_json(path)
    try:
        if not isinstance(doc, dict):
            raise _Fault(f"expected an object at the top level, got {_show(doc)}")
        top = _fields("the top level", doc, (), ("MixingRule", "PseudoAtoms"))
        rule = _string("MixingRule", top["MixingRule"])
        entries = _array("PseudoAtoms", top["PseudoAtoms"])
        self_entries = _array("SelfInteractions", top.get("SelfInteractions", []))
        n_binary = len(_array("BinaryInteractions", top.get("BinaryInteractions", [])))

        selves: dict[str, dict[str, Any]] = {}
        for i, entry in enumerate(self_entries):
            where = f"SelfInteractions[{i}]"
            fields = _fields(where, entry, ("name", "type", "parameters", "source"), ("name", "parameters"))
            name = _string(f"{where}.name", fields["name"])
            if name in selves:
                raise ValueError(f"duplicate SelfInteractions entry for '{name}' in {path}")
            selves[name] = fields

        atoms: dict[str, _PseudoAtom] = {}
        for i, entry in enumerate(entries):
            where = f"PseudoAtoms[{i}]"
            fields = _fields(where, entry, ("name", "mass", "charge", "source"), ("name", "mass", "charge"))
            name = _string(f"{where}.name", fields["name"])
            mass = _number(f"{where}.mass", fields["mass"])
            charge = _number(f"{where}.charge", fields["charge"])
            epsilon, sigma = _self_parameters(name, selves.get(name))
            if name in atoms:
                raise ValueError(f"duplicate PseudoAtoms entry for '{name}' in {path}")
            atoms[name] = _PseudoAtom(mass, charge, epsilon, sigma)
    except _Fault as e:
        raise ValueError(f"parsing {path}: {e}") from None
    if rule != "Lorentz-Berthelot":
        raise ValueError(f"unsupported MixingRule '{rule}' in {path} (only \"Lorentz-Berthelot\" is supported)")
    return _ForceField(path, atoms, n_binary)


def _self_parameters(name: str, fields: dict[str, Any] | None) -> tuple[float, float]:
    if fields is None:
        return 0.0, NO_LJ_SIGMA
    kind = _string(f"SelfInteractions for '{name}': type", fields.get("type", "lennard-jones"))
    if not (kind.isascii() and kind.lower() == "lennard-jones"):
        raise ValueError(f"unsupported SelfInteractions type '{kind}' for '{name}' (only lennard-jones is supported)")
    params = fields["parameters"]
    if (not isinstance(params, list) or len(params) != 2
            or any(isinstance(p, bool) or not isinstance(p, (int, float)) for p in params)):
        raise ValueError(f"SelfInteractions for '{name}' must have [epsilon_K, sigma_Ang], got {_show(params)}")
    return float(params[0]), float(params[1])


def _load_molecule(path: str) -> _Molecule:
    doc = _read_json(path)
    try:
        keys = ("Type", "pseudoAtoms", "Connectivity", "Bonds", "Bends", "Torsions")
        top = _fields("the top level", doc, keys, ("pseudoAtoms",))
        atoms: list[tuple[str, Vec3]] = []
        for i, entry in enumerate(_array("pseudoAtoms", top["pseudoAtoms"])):
            where = f"pseudoAtoms[{i}]"
            kind, position = _array(where, entry, 2)
            xyz = _array(f"{where} position", position, 3)
            x, y, z = (_number(f"{where} {axis}", v) for axis, v in zip("xyz", xyz))
            atoms.append((_string(f"{where} type", kind), (x, y, z)))
        kind = _string("Type", top["Type"]) if top.get("Type") is not None else None
        bonded = bool(_array("Connectivity", top.get("Connectivity") or []))
    except _Fault as e:
        raise ValueError(f"parsing {path}: {e}") from None
    if not atoms:
        raise ValueError(f"{path} defines no pseudoAtoms")
    # As the LAMMPS route reads the file: rigid when it says so, or, as RASPA3 has it, when it gives
    # neither a "Type" nor bonds.
    rigid = (kind or "").lower() == "rigid" or (kind is None and not bonded and len(atoms) > 1)
    return _Molecule(path, Path(path).stem or "molecule", atoms, rigid)


def _with_templates(molecules: list[_Molecule], templates: Sequence[Sequence[Sequence[float]] | None] | None,
                    ) -> list[_Molecule]:
    if templates is None:
        return molecules
    if len(templates) != len(molecules):
        raise ValueError(f"templates has {len(templates)} entries but molecule_paths has {len(molecules)}")
    out = []
    for mol, positions in zip(molecules, templates):
        if positions is not None:
            if len(positions) != len(mol.atoms) or any(len(p) != 3 for p in positions):
                raise ValueError(f"the template given for {mol.path} is not one [x, y, z] per pseudo-atom "
                                 f"({len(mol.atoms)})")
            mol = _Molecule(mol.path, mol.name, [(kind, (float(p[0]), float(p[1]), float(p[2])))
                                                 for (kind, _), p in zip(mol.atoms, positions)], mol.rigid)
        out.append(mol)
    return out


# --- What RASPA3 is asked to do ------------------------------------------------------------------

def _core_diameter(atom: _PseudoAtom) -> float:
    """The distance at which two atoms of this type reach RASPA3's overlap energy; 0 without LJ."""
    if atom.epsilon <= 0.0 or atom.sigma <= 0.0:
        return 0.0
    x = (1.0 + math.sqrt(1.0 + OVERLAP_ENERGY / atom.epsilon)) / 2.0  # (sigma/r)^6 from 4 eps (x^2 - x) = E
    return float(atom.sigma / x ** (1.0 / 6.0))


@dataclass(frozen=True)
class _Shape:
    mass: float  # g/mol
    span: float  # Å, the largest distance between two atoms
    core_volume: float  # Å^3, the sum of the atoms' core spheres
    excluded_volume: float  # Å^3, around one molecule, for the centre of another, orientations averaged


def _shape(mol: _Molecule, ff: _ForceField) -> _Shape:
    mass = core_volume = 0.0
    cores = []
    for kind, position in mol.atoms:
        atom = ff.pseudo_atoms.get(kind)
        if atom is None:
            raise ValueError(f"pseudo-atom type '{kind}' of {mol.path} is not in {ff.path}")
        if atom.mass < 0.0:
            raise ValueError(f"pseudo-atom type '{kind}' has a negative mass in {ff.path}")
        mass += atom.mass
        d = _core_diameter(atom)
        core_volume += math.pi / 6.0 * d**3
        if d > 0.0:
            cores.append((d, position))
    if mass <= 0.0:
        raise ValueError(f"molecule {mol.name} ({mol.path}) has no mass; RASPA3 moves it about its centre of mass")
    pairs = [(math.dist(a, b), i, j)
             for i, (_, a) in enumerate(mol.atoms) for j, (_, b) in enumerate(mol.atoms) if j > i]
    closest = min(pairs, default=None)
    if closest is not None and closest[0] < MIN_ATOM_DISTANCE:
        raise ValueError(f"{mol.path}: pseudoAtoms {closest[1]} and {closest[2]} are {closest[0]:g} Å apart in the "
                         "template; RASPA3 is given the molecule as a rigid body of this shape, so the template needs "
                         "real coordinates")
    span = max(pairs)[0] if pairs else 0.0
    # The cores seen as one spherocylinder: diameter d, length l between the outermost core centres.
    d = max((dc for dc, _ in cores), default=0.0)
    length = max((math.dist(a, b) for i, (_, a) in enumerate(cores) for _, b in cores[i + 1:]), default=0.0)
    excluded = 4.0 * math.pi / 3.0 * d**3 + 2.0 * math.pi * d**2 * length + math.pi / 2.0 * d * length**2
    return _Shape(mass, span, core_volume, excluded)


def _plan(active: list[tuple[int, _Molecule, int]], ff: _ForceField, density: float | None, temperature: float,
          cycles: dict[str, int], edges: Vec3 | None = None) -> dict[str, Any]:
    """Checks the request and lays out, as plain data, everything the RASPA3 run needs."""
    shapes = [_shape(mol, ff) for _, mol, _ in active]
    total_mass = 0.0
    for shape, (_, _, count) in zip(shapes, active):
        total_mass += shape.mass * float(count)
    if edges is None:
        assert density is not None
        box_len = math.cbrt(total_mass / AVOGADRO / (density / 1000.0) * 1e24)
        edges = (box_len, box_len, box_len)
    volume = edges[0] * edges[1] * edges[2]
    if density is None:
        density = total_mass / AVOGADRO / (volume * 1e-24) * 1000.0
    shortest = min(edges)
    where = f"{edges[0]:.3f} Å" if edges[0] == edges[1] == edges[2] else \
        f"{edges[0]:.3f} × {edges[1]:.3f} × {edges[2]:.3f} Å"

    for shape, (_, mol, _) in zip(shapes, active):
        if 2.0 * shape.span >= shortest:
            raise ValueError(f"a box of {where} is too small for {mol.name} ({mol.path}): its atoms span "
                             f"{shape.span:.3f} Å and the shortest box edge must be more than twice that; raise the "
                             "counts or lower the density")
    fraction = sum(s.core_volume * count for s, (_, _, count) in zip(shapes, active)) / volume
    crowding = sum(s.excluded_volume * count for s, (_, _, count) in zip(shapes, active)) / volume
    if fraction > MAX_CORE_FRACTION or crowding > MAX_CROWDING:
        limit = density * min(MAX_CORE_FRACTION / fraction, MAX_CROWDING / crowding)  # both > 0: cores exist
        raise ValueError(f"density {density:g} kg/m³ is too high for RASPA3's random insertion, which can stall for "
                         f"ever: the atoms' hard cores would fill {100 * fraction:.0f} % of the {where} box "
                         f"(at most {100 * MAX_CORE_FRACTION:.0f} % is accepted) and the molecules' excluded volumes "
                         f"would cover it {crowding:.1f} times (at most {MAX_CROWDING:g}); here up to {limit:.0f} "
                         "kg/m³ is accepted. Pack denser boxes with the Packmol route")

    # Bulkier molecules first: each needs a hole that smaller ones, inserted before, would have filled.
    order = sorted(range(len(active)), key=lambda k: -shapes[k].excluded_volume)
    plan = _system_plan([active[k] for k in order], ff, edges)
    plan.update(temperature=temperature, cycles=cycles)
    return plan


def model(force_field_path: str | os.PathLike[str], box: float | Sequence[float]) -> dict[str, Any]:
    """The force field's non-bonded model in a box, a cube's edge or three edges (Å), as the force-field
    pair style of the LAMMPS files reads it: cutoff_vdw, cutoff_coulomb (Å), shifted, tail_corrections,
    charges (False for "ChargeMethod": "None"), ewald_alpha (1/Å), kmax and ewald_precision."""
    from . import _native  # the core's reader, so that both programs are given one model

    try:
        result: dict[str, Any] = _native._force_field_model_py(os.fsdecode(force_field_path), box)
    except RuntimeError as e:
        raise ValueError(str(e)) from None
    return result


def _system_plan(active: Sequence[tuple[int, _Molecule, int]], ff: _ForceField, box: Vec3) -> dict[str, Any]:
    """The force field and components RASPA3 is given, as plain data, species in the given order."""
    settings = model(ff.path, box)
    kinds = list(dict.fromkeys(kind for _, mol, _ in active for kind, _ in mol.atoms))
    half = min(box) / 2.0  # RASPA3 takes the nearest image only
    return {
        "box": box,
        "cutoff_vdw": min(settings["cutoff_vdw"], half),
        "cutoff_coulomb": min(settings["cutoff_coulomb"], half),
        "shifted": settings["shifted"],
        "tail_corrections": settings["tail_corrections"],
        "use_charge": settings["charges"] and any(ff.pseudo_atoms[k].charge != 0.0 for k in kinds),
        "pseudo_atoms": [(k, ff.pseudo_atoms[k]) for k in kinds],
        # (position among the active species, name, count, [(type, position, charge)])
        "species": [(k, mol.name, count, [(kind, pos, ff.pseudo_atoms[kind].charge) for kind, pos in mol.atoms])
                    for k, mol, count in active],
    }


def _canonical_coords(plan: dict[str, Any], positions: list[Vec3]) -> list[list[float]]:
    """RASPA3's positions, back in the order of the species given, each molecule moved whole by box
    edges so that its centre lies in the box."""
    expected = sum(count * len(atoms) for _, _, count, atoms in plan["species"])
    if len(positions) != expected:
        raise RuntimeError(f"RASPA3 returned {len(positions)} atom positions, expected {expected}")
    for position in positions:
        if not all(math.isfinite(v) for v in position):
            raise RuntimeError(f"RASPA3 returned a non-finite atom position {position}")
    molecules: dict[int, list[list[Vec3]]] = {}
    start = 0
    for k, _, count, atoms in plan["species"]:
        n = len(atoms)
        molecules[k] = [positions[start + i * n:start + (i + 1) * n] for i in range(count)]
        start += count * n
    box = plan["box"]
    coords: list[list[float]] = []
    for k in sorted(molecules):
        for molecule in molecules[k]:
            centre = [sum(p[axis] for p in molecule) / len(molecule) for axis in range(3)]
            shift = [edge * math.floor(c / edge) for c, edge in zip(centre, box)]
            coords.extend([float(p[axis]) - shift[axis] for axis in range(3)] for p in molecule)
    return coords


# --- The RASPA3 run, in a child process ----------------------------------------------------------

def _run_in_child(plan: dict[str, Any]) -> Any:
    """Runs RASPA3 in a fresh interpreter: its calls hold the interpreter lock and ignore Ctrl-C.

    The plan goes in on the child's standard input, the result comes back on its standard output;
    anything RASPA3 prints goes to standard error."""
    code = "import sys; sys.path.insert(0, sys.argv[1]); from cellkit.raspa_init import _child_main; _child_main()"
    package_root = str(Path(__file__).resolve().parent.parent)  # the same cellkit, installed or not
    child = subprocess.Popen([sys.executable, "-c", code, package_root], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE)
    try:
        out, _ = child.communicate(pickle.dumps(plan))
    finally:  # also on Ctrl-C: nothing of the run outlives the call
        if child.poll() is None:
            child.kill()
            child.wait()
    if child.returncode == -signal.SIGINT:  # Ctrl-C reached the child first
        raise KeyboardInterrupt
    try:
        status, payload = pickle.loads(out)
    except Exception:  # noqa: BLE001 - killed or crashed before it could answer
        raise RuntimeError(f"the RASPA3 process ended without a result (exit status {child.returncode})") from None
    if status != "ok":
        raise RuntimeError(f"RASPA3 failed: {payload}")
    return payload


def _child_main() -> None:
    signal.signal(signal.SIGINT, signal.SIG_DFL)  # Ctrl-C ends this process at once, even inside RASPA3
    plan = pickle.load(sys.stdin.buffer)
    result_fd = os.dup(1)
    os.dup2(2, 1)
    try:
        job: Callable[[dict[str, Any]], Any] = _energies if "positions" in plan else _simulate
        if "framework" in plan:
            from .gcmc import run_in_child  # a framework loaded by grand-canonical Monte Carlo

            job = run_in_child
        result: tuple[str, Any] = ("ok", job(plan))
    except Exception as e:  # noqa: BLE001 - handed to the parent, which raises it
        result = ("error", f"{type(e).__name__}: {e}")
    with os.fdopen(result_fd, "wb") as out:
        pickle.dump(result, out)


def _raspa_system(raspa: Any, plan: dict[str, Any], **kwargs: Any) -> Any:
    """RASPA3's force field, components and system for the plan, in its box."""
    ff = raspa.ForceField([raspa.PseudoAtom(name, False, a.mass, a.charge) for name, a in plan["pseudo_atoms"]],
                          [raspa.VDWParameters(a.epsilon, a.sigma) for _, a in plan["pseudo_atoms"]],
                          mixing_rule=raspa.ForceField.MixingRule.LORENTZ_BERTHELOT,
                          cutoff_framework_vdw=plan["cutoff_vdw"], cutoff_molecule_vdw=plan["cutoff_vdw"],
                          cutoff_coulomb=plan["cutoff_coulomb"], shifted=plan["shifted"],
                          tail_corrections=plan["tail_corrections"], use_charge=plan["use_charge"])
    components = []
    for component_id, (_, name, _, atoms) in enumerate(plan["species"]):
        defined = [raspa.Atom(position, charge, 1.0, 0, ff.find_pseudo_atom(kind), component_id)
                   for kind, position, charge in atoms]
        moves = raspa.MCMoveProbabilities(translation_probability=1.0,
                                          rotation_probability=1.0 if len(atoms) > 1 else 0.0)
        # The critical constants only matter for exchange moves, which an NVT run has none of.
        components.append(raspa.Component(ff, name, 0.0, 0.0, 0.0, defined_atoms=defined,
                                          particle_probabilities=moves))
    return raspa.System(ff, simulation_box=raspa.SimulationBox(*plan["box"]), components=components,
                        **kwargs)


def _simulate(plan: dict[str, Any]) -> tuple[Vec3, list[Vec3]]:
    raspa = _import_raspalib()
    system = _raspa_system(raspa, plan, external_temperature=plan["temperature"],
                           initial_number_of_molecules=[count for _, _, count, _ in plan["species"]])
    cycles = plan["cycles"]
    mc = raspa.MonteCarlo(number_of_cycles=cycles["n_prod_cycles"],
                          number_of_initialization_cycles=cycles["n_init_cycles"],
                          number_of_equilibration_cycles=cycles["n_equil_cycles"], systems=[system],
                          random_seed=plan["seed"], output_to_files=False)
    mc.run()
    done = mc.systems[0]  # the run works on copies of the systems it was given
    box = done.simulation_box
    return (box.length_a, box.length_b, box.length_c), [tuple(atom.position) for atom in done.atom_data]


# RASPA3 reports energies in amu·Å²/ps² per molecule (10 J/mol) and turns them into kelvin with its own
# constants; kelvin to kcal/mol as everywhere in cellkit.
RASPA3_KELVIN = 1.6605402e-27 * 1e-20 / 1e-24 * 6.0221419947e23 / 8.314464919
KCAL_PER_KELVIN = 0.0019872041
DEFAULT_EWALD_PRECISION = 1e-6  # what RASPA3's Python API sums Ewald at


def _energies(plan: dict[str, Any]) -> dict[str, float]:
    raspa = _import_raspalib()
    system = _raspa_system(raspa, plan, initial_positions=plan["positions"],
                           initial_number_of_molecules=[0] * len(plan["species"]))
    placed = [tuple(atom.position) for atom in system.atom_data]
    expected = [tuple(p) for positions in plan["positions"] for p in positions]
    if placed != expected:
        raise RuntimeError("RASPA3 did not place the atoms at the positions given")
    e = system.compute_total_energies()
    vdw, coulomb, total = (RASPA3_KELVIN * KCAL_PER_KELVIN * v
                           for v in (e.van_der_waals_energy(), e.coulomb_energy(), e.potential_energy()))
    # Rigid molecules have no intramolecular terms, so what is left of the total is the tail correction.
    tail = total - vdw - coulomb if plan["tail_corrections"] else 0.0
    return {"vdw": vdw, "tail": tail, "coulomb": coulomb, "total": total}


def energies_with_raspa3(counts: Sequence[int], force_field_path: str | os.PathLike[str],
                         molecule_paths: Sequence[str | os.PathLike[str]], coords: Sequence[Sequence[float]],
                         box: float | Sequence[float]) -> dict[str, float]:
    """RASPA3's energy of a given configuration under the force field's own model (see `model`), in kcal/mol.

    `coords` holds one [x, y, z] per atom in canonical order (species in the given order, their
    molecules one after another, each molecule's atoms in file order), in a box: a cube's edge or the
    three edges along x, y and z (Å). Molecules are rigid bodies for RASPA3's Python API, which has no bonded terms: only the
    energy between molecules is evaluated. Returns "vdw" (pair sum), "tail" (tail correction),
    "coulomb" (real-space, reciprocal, self and exclusion terms of the Ewald sum) and "total".
    BinaryInteractions cannot be passed on (see `pack_with_raspa3`).

    Raises ImportError without raspalib, ValueError for unusable inputs, RuntimeError when RASPA3 fails.
    """
    counts = _check_counts(counts, molecule_paths)
    edges = _check_box(box)
    _import_raspalib()
    force_field = _load_force_field(os.fspath(force_field_path))
    molecules = [_load_molecule(os.fspath(p)) for p in molecule_paths]
    active = [(i, mol, count) for i, (mol, count) in enumerate(zip(molecules, counts)) if count > 0]
    for _, mol, _ in active:
        for kind, _ in mol.atoms:
            if kind not in force_field.pseudo_atoms:
                raise ValueError(f"pseudo-atom type '{kind}' of {mol.path} is not in {force_field.path}")
    expected = sum(count * len(mol.atoms) for _, mol, count in active)
    if len(coords) != expected:
        raise ValueError(f"{len(coords)} atom positions given, {expected} expected for these species and counts")
    plan = _system_plan(active, force_field, edges)
    positions, start = [], 0
    for _, mol, count in active:
        n = count * len(mol.atoms)
        positions.append([[float(v) for v in p] for p in coords[start:start + n]])
        start += n
    plan["positions"] = positions
    result: dict[str, float] = _run_in_child(plan)
    return result
