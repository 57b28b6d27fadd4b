"""End-to-end: files written by pack_from_coords_py are read and evaluated by a real LAMMPS."""

from __future__ import annotations

import itertools
import json
import math
import pathlib

import numpy as np
import pytest

from cellkit import _native
from helpers import (EXAMPLES, KCAL_PER_K, bonded_terms, chain, exact_in_data_file, foretold_refusals, lammps_script,
                     lattice, raspa3_examples_dir, run_lammps, template, write_json)

PyPairSetup = _native.PyPairSetup
FORCE_FIELD = str(EXAMPLES / "force_field.json")
SPECIES = {name: str(EXAMPLES / f"{name}.json") for name in ("water", "methane", "butane")}
# atoms, bonds, angles, dihedrals of one molecule
TOPOLOGY = {"water": (3, 2, 1, 0), "methane": (1, 0, 0, 0), "butane": (4, 3, 2, 1)}


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
    names, counts = zip(*species_counts)
    coords, box_len = lattice([template(SPECIES[n]) for n, count in species_counts for _ in range(count)], 8.0)
    summary = _native.pack_from_coords_py([SPECIES[n] for n in names], counts, coords, box_len, out_dir=str(tmp_path),
                                          pair_style=getattr(PyPairSetup, preset) if preset else None,
                                          explicit_lb=explicit_lb, force_field=FORCE_FIELD)
    assert foretold_refusals(summary) == []

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
    return next((numbers for entry_names, _, numbers in entries if entry_names in (names, names[::-1])), None)


def _dihedral(p0, p1, p2, p3):
    b1, b2, b3 = p1 - p0, p2 - p1, p3 - p2
    n1, n2 = np.cross(b1, b2), np.cross(b2, b3)
    return math.atan2(np.dot(np.cross(n1, b2 / np.linalg.norm(b2)), n2), np.dot(n1, n2))


def expected_bonded_energies(docs, counts, coords):
    """{thermo column: [energy, allowed deviation]} for the bonds, angles and dihedrals, kcal/mol.

    The allowance covers the decimals forcefield.lmp keeps: bond k 4 and r0 6; angle k 4 and
    angle0 4 (degrees); dihedral K1..K3 4."""
    out = {"E_bond": [0.0, 0.0], "E_angle": [0.0, 0.0], "E_dihed": [0.0, 0.0]}
    start = 0
    for doc in (doc for doc, count in zip(docs, counts) for _ in range(count)):
        names = [t for t, _ in doc["pseudoAtoms"]]
        pos = coords[start:start + len(names)]
        start += len(names)
        angles, dihedrals = bonded_terms(len(names), doc["Connectivity"])
        for i, j in doc["Connectivity"]:
            k, r0 = _find(doc["Bonds"], [names[i], names[j]])
            dr = np.linalg.norm(pos[j] - pos[i]) - r0
            out["E_bond"][0] += 0.5 * k * KCAL_PER_K * dr**2
            out["E_bond"][1] += 5e-5 * dr**2 + k * KCAL_PER_K * abs(dr) * 5e-7
        for i, j, m in angles:
            k, theta0 = _find(doc["Bends"], [names[i], names[j], names[m]])
            u, v = pos[i] - pos[j], pos[m] - pos[j]
            dt = math.acos(np.clip(np.dot(u, v) / np.linalg.norm(u) / np.linalg.norm(v), -1, 1)) - math.radians(theta0)
            out["E_angle"][0] += 0.5 * k * KCAL_PER_K * dt**2
            out["E_angle"][1] += 5e-5 * dt**2 + k * KCAL_PER_K * abs(dt) * math.radians(5e-5)
        for i, j, k, m in dihedrals:
            c = _find(doc["Torsions"], [names[i], names[j], names[k], names[m]])
            if c is not None:
                phi = _dihedral(pos[i], pos[j], pos[k], pos[m])
                shape = (1 + math.cos(phi), 1 - math.cos(2 * phi), 1 + math.cos(3 * phi))
                out["E_dihed"][0] += KCAL_PER_K * (c[1] * shape[0] + c[2] * shape[1] + c[3] * shape[2])
                out["E_dihed"][1] += 0.5 * 5e-5 * sum(shape)
    return out


def strained_chain(n_atoms, rng):
    """A chain whose every bond, bend and torsion is away from its TraPPE minimum."""
    def off(centre, lo, hi, size):
        return centre + rng.choice([-1.0, 1.0], size) * rng.uniform(lo, hi, size)
    return chain(off(1.54, 0.04, 0.10, n_atoms - 1), off(114.0, 6.0, 14.0, n_atoms - 2),
                 rng.uniform(-180.0, 180.0, n_atoms - 3))


def _raspa3_alkanes(tmp_path):
    d = raspa3_examples_dir() / "alkanes_trappe_flexible"
    return [str(d / f"{n}.json") for n in ("butane", "pentane", "hexane")], str(d / "force_field.json"), [2, 2, 2]


ENERGY_CASES = {
    "butane+pentane": lambda tmp: ([SPECIES["butane"], write_json(tmp / "pentane.json", PENTANE)], FORCE_FIELD, [2, 3]),
    "raspa3-alkanes": _raspa3_alkanes,
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

    for column, (e, tol) in expected_bonded_energies(docs, counts, coords).items():
        assert abs(e) > 100 * tol, f"{column}: geometry not strained enough to test"
        assert run.thermo[column] == pytest.approx(e, abs=tol + 1e-9 * abs(e)), column


# --- Van der Waals energy against values computed here from the JSON parameters ---------------

# One-site species, so no pair is excluded as bonded: name -> (epsilon K, sigma Å, count). Depths
# and diameters differ enough that a geometric sigma or an arithmetic epsilon changes the energy;
# Hq has no well, like a water hydrogen. Listed out of name order so type numbers differ from it.
LJ_SITES = {"Xe": (221.0, 4.10, 6), "Ar": (119.8, 3.40, 10), "Hq": (0.0, 1.0, 8), "CH4": (148.0, 3.73, 8),
            "Kr": (164.0, 3.64, 8)}
LJ_OVERRIDES = {
    "lorentz-berthelot": [],
    "binary-overrides": [{"names": ["Xe", "Ar"], "parameters": [150.0, 3.9], "source": "Xe-Ar fit"},
                         {"names": ["Kr", "Hq"], "parameters": [40.0, 2.6]}],
}


def scattered(n, box_len, min_dist, rng):
    """n random positions in a periodic cube, no two closer than min_dist (minimum image)."""
    pos = np.empty((0, 3))
    while len(pos) < n:
        p = rng.uniform(0.0, box_len, 3)
        d = pos - p
        d -= box_len * np.round(d / box_len)
        if np.all(np.linalg.norm(d, axis=1) >= min_dist):
            pos = np.vstack([pos, p])
    return exact_in_data_file(pos)


def lj_energy(ff_doc, names, pos, box_len, cutoff=10.0):
    """kcal/mol: 4 eps ((sigma/r)^12 - (sigma/r)^6) over the minimum-image pairs within the cut-off,
    plus the tail correction that 'pair_modify tail yes' adds (per ordered pair of types,
    8 pi Ni Nj eps sigma^6 (sigma^6 - 3 rc^6) / (9 rc^9 V)). Unlike pairs: the BinaryInteractions
    entry if any, else Lorentz-Berthelot."""
    own = {e["name"]: e["parameters"] for e in ff_doc["SelfInteractions"]}
    binary = {frozenset(e["names"]): e["parameters"] for e in ff_doc.get("BinaryInteractions", [])}

    def params(a, b):
        if a != b and frozenset((a, b)) in binary:
            eps, sigma = binary[frozenset((a, b))]
        else:
            eps, sigma = math.sqrt(own[a][0] * own[b][0]), (own[a][1] + own[b][1]) / 2
        return eps * KCAL_PER_K, sigma

    total = 0.0
    for i in range(len(names)):
        d = pos[i + 1:] - pos[i]
        d -= box_len * np.round(d / box_len)
        for j, r in enumerate(np.linalg.norm(d, axis=1), start=i + 1):
            if r < cutoff:
                eps, sigma = params(names[i], names[j])
                total += 4 * eps * ((sigma / r) ** 12 - (sigma / r) ** 6)
    counts = {n: names.count(n) for n in set(names)}
    for a, b in itertools.product(counts, repeat=2):
        eps, sigma = params(a, b)
        total += (8 * math.pi * counts[a] * counts[b] * eps * sigma**6 * (sigma**6 - 3 * cutoff**6)
                  / (9 * cutoff**9 * box_len**3))
    return total


@pytest.mark.parametrize("overrides", LJ_OVERRIDES.values(), ids=LJ_OVERRIDES.keys())
def test_van_der_waals_energy_matches_the_json_parameters(lmp, tmp_path, overrides):
    ff_doc = {"MixingRule": "Lorentz-Berthelot",
              "PseudoAtoms": [{"name": n, "mass": 20.0, "charge": 0.0} for n in LJ_SITES],
              "SelfInteractions": [{"name": n, "parameters": [eps, sigma]} for n, (eps, sigma, _) in LJ_SITES.items()],
              "BinaryInteractions": overrides}
    force_field = write_json(tmp_path / "force_field.json", ff_doc)
    species = [write_json(tmp_path / f"{n}.json", {"pseudoAtoms": [[n, [0.0, 0.0, 0.0]]]}) for n in LJ_SITES]
    counts = [count for _, _, count in LJ_SITES.values()]
    names = [n for n, (_, _, count) in LJ_SITES.items() for _ in range(count)]
    # 4.6 Å apart puts every pair beyond its minimum, so no energy cancels; 24 Å > 2 cut-offs, so
    # the minimum image is the only image within reach.
    box_len = 24.0
    pos = scattered(len(names), box_len, 4.6, np.random.default_rng(7))
    expected = lj_energy(ff_doc, names, pos, box_len)

    energy = {}
    for explicit_lb in (False, True):
        out = tmp_path / f"explicit_lb_{explicit_lb}"
        _native.pack_from_coords_py(species, counts, pos.tolist(), box_len, pair_style=PyPairSetup.LjCut,
                                    explicit_lb=explicit_lb, force_field=force_field, out_dir=str(out))
        energy[explicit_lb] = run_lammps(lmp, out, lammps_script(thermo="step atoms evdwl")).thermo["E_vdwl"]
    # Our cross pairs against LAMMPS's own mixing; both against the JSON. The allowance covers the
    # 7 decimals that pair_coeff keeps.
    assert energy[True] == pytest.approx(energy[False], rel=1e-6)
    assert energy[False] == pytest.approx(expected, rel=1e-6)
    assert energy[True] == pytest.approx(expected, rel=1e-6)
