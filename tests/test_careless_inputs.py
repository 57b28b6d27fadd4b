"""Careless and hostile inputs: what LAMMPS would misread or refuse is refused here, what it reads is accepted."""

from __future__ import annotations

import json
import pathlib

import pytest

from cellkit import _native
from helpers import EXAMPLES, foretold_refusals, lammps_script, lammps_verdict, lattice, template, write_json

PyPairSetup = _native.PyPairSetup


def two_type_inputs(d: pathlib.Path, first_type="A", source=None, stem="mol", mass=12.0, epsilon=50.0):
    """A force field of two types and a two-atom molecule of them, first_type first (type 1)."""
    d.mkdir(parents=True, exist_ok=True)
    ff = {"MixingRule": "Lorentz-Berthelot",
          "PseudoAtoms": [{"name": first_type, "mass": mass, "charge": 0.0, "source": source},
                          {"name": "B", "mass": 14.0, "charge": 0.0}],
          "SelfInteractions": [{"name": first_type, "parameters": [epsilon, 3.0]},
                               {"name": "B", "parameters": [epsilon, 3.2]}]}
    mol = {"pseudoAtoms": [[first_type, [0.0, 0.0, 0.0]], ["B", [1.5, 0.0, 0.0]]], "Connectivity": [[0, 1]],
           "Bonds": [[[first_type, "B"], "HARMONIC", [1000.0, 1.5]]]}
    (d / "force_field.json").write_text(json.dumps(ff))
    (d / f"{stem}.json").write_text(json.dumps(mol))
    return [str(d / f"{stem}.json")], str(d / "force_field.json")


def build_two_types(d: pathlib.Path, explicit_lb=False, **inputs):
    species, force_field = two_type_inputs(d, **inputs)
    coords = [[5.0, 5.0, 5.0], [6.5, 5.0, 5.0], [15.0, 15.0, 15.0], [16.5, 15.0, 15.0]]
    return _native.pack_from_coords_py(species, [2], coords, 20.0, force_field=force_field, out_dir=str(d),
                                       pair_style=PyPairSetup.LjCut, explicit_lb=explicit_lb)


def test_texts_that_mean_something_to_lammps_elsewhere_are_read_as_plain_text(lmp, tmp_path):
    # '&' not at the end, lone quotes, '#', blanks and UTF-8 in a name; line breaks, tabs and a final '&' in a
    # citation (they only make more comment lines); '&' in a file stem. What refuses is checked in the C++ tests.
    build_two_types(tmp_path, first_type="&A&B\"x'#1 \u00c5", source="Smith &\r\nJones &\t", stem="salt&pepper")
    accepted, out = lammps_verdict(lmp, tmp_path, lammps_script())
    assert accepted, out[-3000:]


# (inputs, the refusal): found while reading, and while composing forcefield.lmp after data.lmp
REFUSED = {
    "zero-mass": (dict(mass=0.0), "mass of PseudoAtoms entry 'A' in "),
    "cross-epsilon-overflow": (dict(epsilon=1e200, explicit_lb=True),
                               "cannot write forcefield.lmp: the epsilon of pair_coeff 1 2 (A-B) is inf"),
}


@pytest.mark.parametrize("case", REFUSED.values(), ids=REFUSED.keys())
def test_refused_builds_write_nothing(tmp_path, case):
    inputs, refusal = case
    with pytest.raises(RuntimeError) as info:
        build_two_types(tmp_path, **inputs)
    assert refusal in str(info.value)
    assert sorted(p.name for p in tmp_path.iterdir()) == ["force_field.json", "mol.json"]


# --- Presets that LAMMPS will refuse: the summary says so ----------------------------------------

WATER_H_FIRST = {"Type": "rigid", "pseudoAtoms": [["Hw", [1.0, 0.0, 0.0]], ["Ow", [0.0, 0.0, 0.0]],
                                                  ["Hw", [-0.333313, 0.942816, 0.0]]], "Connectivity": [[1, 0], [1, 2]]}
METHOXY = {"Type": "rigid", "pseudoAtoms": [["CH3", [-1.43, 0.0, 0.0]], ["Ow", [0.0, 0.0, 0.0]],
                                            ["Hw", [0.333313, 0.942816, 0.0]]], "Connectivity": [[0, 1], [1, 2]]}
TIP4P_WARNING = ("warning: the Tip4p preset takes atom types 1 and 2 as the oxygen and hydrogen of a water, bond "
                 "type 1 as its O-H bond and angle type 1 as its H-O-H angle, but ")
UNCHARGED_WARNING = "warning: every atom type has charge 0, and LAMMPS refuses the kspace_style of the "

# (preset, [(species, count)], no charges or the water hydrogen's epsilon in K, the warning foretold or None);
# sound presets are in test_lammps.py. 10 K is written as 0.0198720 kcal/mol, 2e-5 K as 0.0000000.
PRESETS = {
    "tip4p-hydrogen-first": ("Tip4p", [("water_h_first", 8)], None, TIP4P_WARNING + "the first species "
                             "'water_h_first' (atoms Hw, Ow, Hw) is not an oxygen, written first, bonded to two "
                             "hydrogens of one type;"),
    "tip4p-methane-first": ("Tip4p", [("methane", 4), ("water", 8)], None,
                            TIP4P_WARNING + "the first species 'methane' has 1 atoms, not 3;"),
    "tip4p-oxygen-shared": ("Tip4p", [("water", 8), ("methoxy", 2)], None, TIP4P_WARNING + "species 'methoxy' has "
                            "atom type 1 (Ow) at atom 1 without two atoms of type 2 (Hw) after it;"),
    "tip4p-hydrogen-well": ("Tip4p", [("water", 8)], 10.0,
                            "warning: the Tip4p preset needs the water hydrogen, atom type 2 (Hw), to have no "
                            "Lennard-Jones well, but pair_coeff 2 2 gives it epsilon 0.0198720 kcal/mol;"),
    "tip4p-hydrogen-well-below-print": ("Tip4p", [("water", 8)], 2e-5, None),
    "tip4p-uncharged": ("Tip4p", [("water", 8)], "uncharged", UNCHARGED_WARNING + "Tip4p preset"),
    "coul-long-uncharged": ("LjCutCoulLong", [("methane", 8)], None, UNCHARGED_WARNING + "LjCutCoulLong preset"),
    # LAMMPS sums the squared charges: 1e-200 squared is 0.
    "coul-long-charge-speck": ("LjCutCoulLong", [("water", 8)], "speck", UNCHARGED_WARNING + "LjCutCoulLong preset"),
}


@pytest.mark.parametrize("case", PRESETS.values(), ids=PRESETS.keys())
def test_presets_lammps_will_refuse_carry_a_warning(lmp, tmp_path, case):
    preset, species_counts, ff_change, warning = case
    files = {"water": str(EXAMPLES / "water.json"), "methane": str(EXAMPLES / "methane.json"),
             "water_h_first": write_json(tmp_path / "water_h_first.json", WATER_H_FIRST),
             "methoxy": write_json(tmp_path / "methoxy.json", METHOXY)}
    ff = json.loads((EXAMPLES / "force_field.json").read_text())
    if ff_change in ("uncharged", "speck"):
        for atom in ff["PseudoAtoms"]:
            atom["charge"] = 0.0 if ff_change == "uncharged" else 1e-200
    elif ff_change:
        ff["SelfInteractions"].append({"name": "Hw", "parameters": [ff_change, 1.0]})
    names, counts = zip(*species_counts)
    coords, box = lattice([template(files[n]) for n, count in species_counts for _ in range(count)], spacing=8.0)
    summary = _native.pack_from_coords_py([files[n] for n in names], counts, coords, box,
                                          pair_style=getattr(PyPairSetup, preset), out_dir=str(tmp_path),
                                          force_field=write_json(tmp_path / "force_field.json", ff))
    foretold = foretold_refusals(summary)
    accepted, out = lammps_verdict(lmp, tmp_path, lammps_script())
    if warning is None:
        assert foretold == []
        assert accepted, out[-3000:]
    else:
        assert len(foretold) == 1 and warning in foretold[0], summary
        assert not accepted, out[-3000:]
