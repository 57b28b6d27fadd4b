"""End-to-end: files written by pack_from_coords_py are read and evaluated by a real LAMMPS."""

from __future__ import annotations

import json
import math
import pathlib

import numpy as np
import pytest

from cellkit import _native
from helpers import (EXAMPLES, KCAL_PER_K, chain, exact_in_data_file, lammps_script, lattice,
                      raspa3_examples_dir, run_lammps, template, write_json, zigzag)

PyPairSetup = _native.PyPairSetup
FORCE_FIELD = str(EXAMPLES / "force_field.json")
SPECIES = {name: str(EXAMPLES / f"{name}.json") for name in ("water", "methane", "butane")}
# atoms, bonds, angles, dihedrals of one molecule
TOPOLOGY = {"water": (3, 2, 1, 0), "methane": (1, 0, 0, 0), "butane": (4, 3, 2, 1)}


def build(tmp_path, species, counts, molecules, spacing, **kwargs):
    """Lays the molecules out on a lattice and writes data.lmp and forcefield.lmp into tmp_path."""
    coords, box_len = lattice(molecules, spacing)
    summary = _native.pack_from_coords_py(species, counts, coords, box_len, out_dir=str(tmp_path), **kwargs)
    assert (tmp_path / "data.lmp").is_file() and (tmp_path / "forcefield.lmp").is_file(), summary
    return summary


# (pair-style preset, explicit_lb, species and counts, pair setup the LAMMPS input supplies itself)
PRESET_CASES = {
    "tip4p": ("Tip4p", False, [("water", 8), ("butane", 0), ("methane", 4)], ""),
    "lj-cut": ("LjCut", False, [("methane", 4), ("butane", 4)], ""),
    "lj-cut-coul-long": ("LjCutCoulLong", True, [("water", 6), ("butane", 3), ("methane", 2)], ""),
    "none-coul-long": (None, True, [("water", 6), ("methane", 3)],
                       "pair_style lj/cut/coul/long 10.0\nkspace_style pppm 1.0e-4"),
    "none-lj-cut": (None, False, [("butane", 3), ("methane", 3)], "pair_style lj/cut 10.0"),
}


@pytest.mark.parametrize("case", PRESET_CASES.values(), ids=PRESET_CASES.keys())
def test_lammps_accepts_each_pair_style_preset(lmp, tmp_path, case):
    preset, explicit_lb, species_counts, pair_setup = case
    names = [name for name, _ in species_counts]
    counts = [count for _, count in species_counts]
    molecules = [template(SPECIES[name]) for name, count in species_counts for _ in range(count)]
    build(tmp_path, [SPECIES[n] for n in names], counts, molecules, spacing=8.0,
          pair_style=getattr(PyPairSetup, preset) if preset else None, explicit_lb=explicit_lb,
          force_field=FORCE_FIELD)

    run = run_lammps(lmp, tmp_path, lammps_script(pair_setup))

    totals = np.sum([np.array(TOPOLOGY[n]) * c for n, c in species_counts], axis=0)
    expected = {k: int(v) for k, v in zip(("atoms", "bonds", "angles", "dihedrals"), totals) if v}
    assert run.counts == expected
    assert run.thermo["Atoms"] == totals[0]
    assert all(math.isfinite(v) for v in run.thermo.values()), run.thermo
    if "water" in names:  # the charges reach LAMMPS: long-range Coulomb energy is present
        assert run.thermo["E_long"] != 0.0
    assert run.warnings == []


# --- Bonded energies against values computed here from the JSON parameters ---------------------

PENTANE = {
    "source": "Flexible TraPPE-UA n-pentane: M. G. Martin and J. I. Siepmann, J. Phys. Chem. B 1998, 102, 2569",
    "Type": "flexible",
    "pseudoAtoms": [[t, [0.0, 0.0, 0.0]] for t in ("CH3", "CH2", "CH2", "CH2", "CH3")],
    "Connectivity": [[0, 1], [1, 2], [3, 2], [3, 4]],  # one pair reversed on purpose
    "Bonds": [[["CH2", "CH3"], "HARMONIC", [96500.0, 1.54]], [["CH2", "CH2"], "HARMONIC", [96500.0, 1.54]]],
    "Bends": [[["CH2", "CH2", "CH3"], "HARMONIC", [62500.0, 114.0]],
              [["CH2", "CH2", "CH2"], "HARMONIC", [62500.0, 114.0]]],
    "Torsions": [[["CH3", "CH2", "CH2", "CH2"], "TRAPPE", [0.0, 355.03, -68.19, 791.32]]],
}


def _find(entries, names):
    """The numbers of the first entry naming these types forwards or backwards."""
    for entry_names, _, numbers in entries:
        if entry_names in (list(names), list(reversed(names))):
            return numbers
    return None


def _bonded_terms(doc):
    """Bonds (i, j), angles (i, j, k) and dihedrals (i, j, k, l) implied by the connectivity."""
    n = len(doc["pseudoAtoms"])
    nbr = [[] for _ in range(n)]
    for a, b in doc["Connectivity"]:
        nbr[a].append(b)
        nbr[b].append(a)
    angles = [(nb[p], j, nb[q]) for j, nb in enumerate(nbr) for p in range(len(nb)) for q in range(p + 1, len(nb))]
    dihedrals = [(i, j, k, l) for j, k in doc["Connectivity"] for i in nbr[j] if i != k
                 for l in nbr[k] if l not in (j, i)]
    return doc["Connectivity"], angles, dihedrals


def _angle(u, v):
    return math.acos(max(-1.0, min(1.0, np.dot(u, v) / (np.linalg.norm(u) * np.linalg.norm(v)))))


def _dihedral(p0, p1, p2, p3):
    b1, b2, b3 = p1 - p0, p2 - p1, p3 - p2
    n1, n2 = np.cross(b1, b2), np.cross(b2, b3)
    return math.atan2(np.dot(np.cross(n1, b2 / np.linalg.norm(b2)), n2), np.dot(n1, n2))


def expected_bonded_energies(doc, pos):
    """(energy, allowed deviation) for bonds, angles and dihedrals of one molecule, kcal/mol.

    The allowance covers the decimals forcefield.lmp keeps: bond k 4 and r0 6; angle k 4 and
    angle0 4 (degrees); dihedral K1..K3 4."""
    names = [t for t, _ in doc["pseudoAtoms"]]
    bonds, angles, dihedrals = _bonded_terms(doc)
    out = {"ebond": [0.0, 0.0], "eangle": [0.0, 0.0], "edihed": [0.0, 0.0]}
    for i, j in bonds:
        k, r0 = _find(doc["Bonds"], [names[i], names[j]])
        dr = np.linalg.norm(pos[j] - pos[i]) - r0
        out["ebond"][0] += 0.5 * k * KCAL_PER_K * dr**2
        out["ebond"][1] += 5e-5 * dr**2 + k * KCAL_PER_K * abs(dr) * 5e-7
    for i, j, m in angles:
        k, theta0 = _find(doc["Bends"], [names[i], names[j], names[m]])
        dt = _angle(pos[i] - pos[j], pos[m] - pos[j]) - math.radians(theta0)
        out["eangle"][0] += 0.5 * k * KCAL_PER_K * dt**2
        out["eangle"][1] += 5e-5 * dt**2 + k * KCAL_PER_K * abs(dt) * math.radians(5e-5)
    for i, j, k, m in dihedrals:
        c = _find(doc["Torsions"], [names[i], names[j], names[k], names[m]])
        if c is None:
            continue
        phi = _dihedral(pos[i], pos[j], pos[k], pos[m])
        shape = (1 + math.cos(phi), 1 - math.cos(2 * phi), 1 + math.cos(3 * phi))
        out["edihed"][0] += KCAL_PER_K * (c[1] * shape[0] + c[2] * shape[1] + c[3] * shape[2])
        out["edihed"][1] += 0.5 * 5e-5 * sum(shape)
    return out


def strained_chain(n_atoms, rng):
    """A chain whose every bond, bend and torsion is away from its TraPPE minimum."""
    def off(centre, lo, hi, size):
        return centre + rng.choice([-1.0, 1.0], size) * rng.uniform(lo, hi, size)
    return chain(off(1.54, 0.04, 0.10, n_atoms - 1), off(114.0, 6.0, 14.0, n_atoms - 2),
                 rng.uniform(-180.0, 180.0, n_atoms - 3))


def _pentane_file(tmp_path):
    return write_json(tmp_path / "pentane.json", PENTANE)


def _raspa3_alkanes(tmp_path):
    d = raspa3_examples_dir() / "alkanes_trappe_flexible"
    return [str(d / f"{n}.json") for n in ("butane", "pentane", "hexane")], str(d / "force_field.json")


THERMO_COLUMN = {"ebond": "E_bond", "eangle": "E_angle", "edihed": "E_dihed"}
ENERGY_CASES = {
    "butane": lambda tmp: ([SPECIES["butane"]], FORCE_FIELD, [3]),
    "butane+pentane": lambda tmp: ([SPECIES["butane"], _pentane_file(tmp)], FORCE_FIELD, [2, 3]),
    "raspa3-alkanes": lambda tmp: (*_raspa3_alkanes(tmp), [2, 2, 2]),
}


@pytest.mark.parametrize("make_case", ENERGY_CASES.values(), ids=ENERGY_CASES.keys())
def test_bonded_energies_match_the_json_parameters(lmp, tmp_path, make_case):
    species, force_field, counts = make_case(tmp_path)
    docs = [json.loads(pathlib.Path(s).read_text()) for s in species]
    rng = np.random.default_rng(20240611)
    molecules = [strained_chain(len(doc["pseudoAtoms"]), rng) for doc, c in zip(docs, counts) for _ in range(c)]
    coords, box_len = lattice(molecules, spacing=12.0)
    coords = exact_in_data_file(np.array(coords))
    _native.pack_from_coords_py(species, counts, coords.tolist(), box_len, pair_style=PyPairSetup.LjCut,
                                force_field=force_field, out_dir=str(tmp_path))

    run = run_lammps(lmp, tmp_path, lammps_script(thermo="step atoms ebond eangle edihed"))

    expected = {"ebond": [0.0, 0.0], "eangle": [0.0, 0.0], "edihed": [0.0, 0.0]}
    start = 0
    for doc, count in zip(docs, counts):
        n = len(doc["pseudoAtoms"])
        for _ in range(count):
            for key, (e, tol) in expected_bonded_energies(doc, coords[start:start + n]).items():
                expected[key][0] += e
                expected[key][1] += tol
            start += n
    for key, (e, tol) in expected.items():
        assert abs(e) > 100 * tol, f"{key}: geometry not strained enough to test"
        assert run.thermo[THERMO_COLUMN[key]] == pytest.approx(e, abs=tol + 1e-9 * abs(e)), key


# --- Real RASPA3 example inputs ------------------------------------------------------------------

def test_raspa3_methane_example_runs_in_lammps(lmp, tmp_path):
    d = raspa3_examples_dir() / "methane_ua"
    build(tmp_path, [str(d / "methane.json")], [27], [template(d / "methane.json")] * 27, spacing=6.0,
          force_field=str(d / "force_field.json"))
    run = run_lammps(lmp, tmp_path, lammps_script())
    assert run.counts == {"atoms": 27}
    assert run.thermo["E_vdwl"] < 0.0  # methane at 6 A sits in the attractive well
    assert run.warnings == []


# Example inputs that use what these files cannot express: no Connectivity, or fixed bonds.
RASPA3_REJECTED = {
    "spce-without-connectivity": ("water_spce_3site", "water", 3, "has 3 pseudoAtoms but no Connectivity"),
    "co2-without-connectivity": ("co2_rigid", "CO2", 3, "has 3 pseudoAtoms but no Connectivity"),
    "fixed-bonds": ("propane_butane_fixed_bonds", "propane", 3,
                    "unsupported bond potential 'FIXED' for CH3-CH2 (only HARMONIC is supported)"),
}


@pytest.mark.parametrize("case", RASPA3_REJECTED.values(), ids=RASPA3_REJECTED.keys())
def test_raspa3_examples_beyond_these_files_are_refused(tmp_path, case):
    folder, name, n_atoms, message = case
    d = raspa3_examples_dir() / folder
    with pytest.raises(RuntimeError, match=message.replace("(", r"\(").replace(")", r"\)")):
        _native.pack_from_coords_py([str(d / f"{name}.json")], [1], zigzag(n_atoms).tolist(), 20.0,
                                    force_field=str(d / "force_field.json"), out_dir=str(tmp_path))
    assert not (tmp_path / "data.lmp").exists()
