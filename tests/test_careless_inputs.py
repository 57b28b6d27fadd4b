"""Careless inputs: what LAMMPS would refuse is refused here, writing nothing, or foretold in the summary."""

from __future__ import annotations

import json
import pathlib
import re

import pytest

from cellkit import _native
from helpers import EXAMPLES, foretold_refusals, lammps_script, lammps_verdict, lattice, template, write_json

PyPairSetup = _native.PyPairSetup


def two_type_inputs(d: pathlib.Path, mass=12.0, epsilon=50.0):
    """A force field of types A and B and a molecule file of an A-B pair."""
    d.mkdir(parents=True, exist_ok=True)
    ff = {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [{"name": t, "mass": m, "charge": 0.0} for t, m in
                                                             (("A", mass), ("B", 14.0))],
          "SelfInteractions": [{"name": t, "parameters": [epsilon, s]} for t, s in (("A", 3.0), ("B", 3.2))]}
    mol = {"pseudoAtoms": [["A", [0.0, 0.0, 0.0]], ["B", [1.5, 0.0, 0.0]]], "Connectivity": [[0, 1]],
           "Bonds": [[["A", "B"], "HARMONIC", [1000.0, 1.5]]]}
    return [write_json(d / "mol.json", mol)], write_json(d / "force_field.json", ff)


# (inputs, the refusal): found while reading, and while composing forcefield.lmp after data.lmp. What LAMMPS
# reads in names and citations is checked in test_properties.py, what refuses in the C++ tests.
REFUSED = {
    "zero-mass": (dict(mass=0.0), False, "mass of PseudoAtoms entry 'A' in "),
    "cross-epsilon-overflow": (dict(epsilon=1e200), True,
                               "cannot write forcefield.lmp: the epsilon of pair_coeff 1 2 (A-B) is inf"),
}


@pytest.mark.parametrize("case", REFUSED.values(), ids=REFUSED.keys())
def test_refused_builds_write_nothing(tmp_path, case):
    inputs, explicit_lb, refusal = case
    species, force_field = two_type_inputs(tmp_path, **inputs)
    with pytest.raises(RuntimeError, match=re.escape(refusal)):
        _native.pack_from_coords_py(species, [2], [[5.0, 5, 5], [6.5, 5, 5], [15.0, 15, 15], [16.5, 15, 15]], 20.0,
                                    force_field=force_field, out_dir=str(tmp_path), explicit_lb=explicit_lb)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["force_field.json", "mol.json"]


# --- Presets that LAMMPS will refuse: the summary says so ----------------------------------------

WATER_H_FIRST = {"Type": "rigid", "pseudoAtoms": [["Hw", [1.0, 0.0, 0.0]], ["Ow", [0.0, 0.0, 0.0]],
                                                  ["Hw", [-0.333313, 0.942816, 0.0]]], "Connectivity": [[1, 0], [1, 2]]}
METHOXY = {"Type": "rigid", "pseudoAtoms": [["CH3", [-1.43, 0.0, 0.0]], ["Ow", [0.0, 0.0, 0.0]],
                                            ["Hw", [0.333313, 0.942816, 0.0]]], "Connectivity": [[0, 1], [1, 2]]}
TIP4P_WARNING = ("warning: the Tip4p preset takes atom types 1 and 2 as the oxygen and hydrogen of a water, bond "
                 "type 1 as its O-H bond and angle type 1 as its H-O-H angle, but ")
UNCHARGED_WARNING = "warning: every atom type has charge 0, and LAMMPS refuses the kspace_style of the "

# (preset, [(species, count)], every charge or the water hydrogen's epsilon in K, the warning foretold or None);
# sound presets are in test_lammps.py. 10 K is written as 0.0198720 kcal/mol, 2e-5 K as 0.0000000.
PRESETS = {
    "tip4p-hydrogen-first": ("Tip4p", [("water_h_first", 8)], {}, TIP4P_WARNING + "the first species "
                             "'water_h_first' (atoms Hw, Ow, Hw) is not an oxygen, written first, bonded to two "
                             "hydrogens of one type;"),
    "tip4p-methane-first": ("Tip4p", [("methane", 4), ("water", 8)], {},
                            TIP4P_WARNING + "the first species 'methane' has 1 atoms, not 3;"),
    "tip4p-oxygen-shared": ("Tip4p", [("water", 8), ("methoxy", 2)], {}, TIP4P_WARNING + "species 'methoxy' has "
                            "atom type 1 (Ow) at atom 1 without two atoms of type 2 (Hw) after it;"),
    "tip4p-hydrogen-well": ("Tip4p", [("water", 8)], dict(epsilon=10.0),
                            "warning: the Tip4p preset needs the water hydrogen, atom type 2 (Hw), to have no "
                            "Lennard-Jones well, but pair_coeff 2 2 gives it epsilon 0.0198720 kcal/mol;"),
    "tip4p-hydrogen-well-below-print": ("Tip4p", [("water", 8)], dict(epsilon=2e-5), None),
    "tip4p-uncharged": ("Tip4p", [("water", 8)], dict(charge=0.0), UNCHARGED_WARNING + "Tip4p preset"),
    "coul-long-uncharged": ("LjCutCoulLong", [("methane", 8)], {}, UNCHARGED_WARNING + "LjCutCoulLong preset"),
    # LAMMPS sums the squared charges: 1e-200 squared is 0.
    "coul-long-charge-speck": ("LjCutCoulLong", [("water", 8)], dict(charge=1e-200),
                               UNCHARGED_WARNING + "LjCutCoulLong preset"),
}


@pytest.mark.parametrize("case", PRESETS.values(), ids=PRESETS.keys())
def test_presets_lammps_will_refuse_carry_a_warning(lmp, tmp_path, case):
    preset, species_counts, ff_change, warning = case
    files = {n: str(EXAMPLES / f"{n}.json") for n in ("water", "methane")} | {
        n: write_json(tmp_path / f"{n}.json", d) for n, d in (("water_h_first", WATER_H_FIRST), ("methoxy", METHOXY))}
    ff = json.loads((EXAMPLES / "force_field.json").read_text())
    for atom in ff["PseudoAtoms"]:
        atom["charge"] = ff_change.get("charge", atom["charge"])
    if "epsilon" in ff_change:
        ff["SelfInteractions"].append({"name": "Hw", "parameters": [ff_change["epsilon"], 1.0]})
    names, counts = zip(*species_counts)
    coords, box = lattice([template(files[n]) for n, count in species_counts for _ in range(count)], spacing=8.0)
    summary = _native.pack_from_coords_py([files[n] for n in names], counts, coords, box,
                                          pair_style=getattr(PyPairSetup, preset), out_dir=str(tmp_path),
                                          force_field=write_json(tmp_path / "force_field.json", ff))
    foretold = foretold_refusals(summary)
    accepted, out = lammps_verdict(lmp, tmp_path, lammps_script())
    assert foretold == [] if warning is None else len(foretold) == 1 and warning in foretold[0], summary
    assert accepted is (warning is None), out[-3000:]
