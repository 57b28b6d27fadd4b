"""Careless and hostile inputs: what LAMMPS would misread or refuse is refused here, what it reads is accepted."""

from __future__ import annotations

import json
import pathlib
import re

import pytest

from cellkit import _native
from helpers import EXAMPLES, lammps_script, lammps_verdict, lattice, template

PyPairSetup = _native.PyPairSetup


def two_type_inputs(d: pathlib.Path, first_type="A", source=None, stem="mol", mass=12.0, epsilon=50.0, rigid=False,
                    spread=1.5, connectivity=((0, 1),)):
    """A force field of two types and a two-atom molecule of them, first_type first (type 1)."""
    d.mkdir(parents=True, exist_ok=True)
    ff = {"MixingRule": "Lorentz-Berthelot",
          "PseudoAtoms": [{"name": first_type, "mass": mass, "charge": 0.0, "source": source},
                          {"name": "B", "mass": 14.0, "charge": 0.0}],
          "SelfInteractions": [{"name": first_type, "parameters": [epsilon, 3.0]},
                               {"name": "B", "parameters": [epsilon, 3.2]}]}
    mol = {"pseudoAtoms": [[first_type, [0.0, 0.0, 0.0]], ["B", [spread, 0.0, 0.0]]],
           "Connectivity": [list(pair) for pair in connectivity]}
    if rigid:
        mol["Type"] = "rigid"
    else:
        mol["Bonds"] = [[[first_type, "B"], "HARMONIC", [1000.0, 1.5]]]
    (d / "force_field.json").write_text(json.dumps(ff))
    (d / f"{stem}.json").write_text(json.dumps(mol))
    return [str(d / f"{stem}.json")], str(d / "force_field.json")


def build_two_types(d: pathlib.Path, box=20.0, explicit_lb=False, **inputs):
    species, force_field = two_type_inputs(d, **inputs)
    coords = [[5.0, 5.0, 5.0], [6.5, 5.0, 5.0], [15.0, 15.0, 15.0], [16.5, 15.0, 15.0]]
    return _native.pack_from_coords_py(species, [2], coords, box, force_field=force_field, out_dir=str(d),
                                       pair_style=PyPairSetup.LjCut, explicit_lb=explicit_lb)


# (where the text goes, the text, what the refusal names or None when it is accepted)
TEXTS = {
    "name-amp-blank": ("type", "A& ", 'PseudoAtoms name "A& " in '),
    "name-line-feed": ("type", "C\nxyzzy", 'PseudoAtoms name "C\\nxyzzy" in '),
    "name-nul": ("type", "C\0", 'PseudoAtoms name "C\\0" in '),
    "name-triple-quote": ("type", 'O"""x', 'PseudoAtoms name "O\\"\\"\\"x" in '),
    "citation-triple-quote": ("source", 'Smith, """Water', """"source" of PseudoAtoms entry 'A' """),
    "stem-line-feed": ("stem", "wa\nter", 'file stem "wa\\nter" in '),
    "name-amp-inside": ("type", "A&B", None),
    "name-odd-but-plain": ("type", "&O\"x'#1 \u00c5", None),
    "citation-amp-lines": ("source", "Smith &\r\nJones &\t", None),
    "stem-amp": ("stem", "salt&pepper", None),
}
PLACEHOLDER = {"type": "Qq", "source": "Qq-source", "stem": "Qqmol"}


@pytest.mark.parametrize("case", TEXTS.values(), ids=TEXTS.keys())
def test_texts_lammps_would_misread_are_refused(lmp, tmp_path, case):
    where, text, refusal = case
    inputs = {"type": "first_type", "source": "source", "stem": "stem"}[where]
    if refusal is None:
        build_two_types(tmp_path, **{inputs: text})
        accepted, out = lammps_verdict(lmp, tmp_path, lammps_script())
        assert accepted, out[-3000:]
        return

    with pytest.raises(RuntimeError) as info:
        build_two_types(tmp_path / "refused", **{inputs: text})
    assert refusal in str(info.value)
    assert not (tmp_path / "refused" / "data.lmp").exists()

    # The files the build would have written: LAMMPS misreads them.
    build_two_types(tmp_path, **{inputs: PLACEHOLDER[where]})
    for name in ("data.lmp", "forcefield.lmp"):
        path = tmp_path / name
        path.write_bytes(path.read_bytes().replace(PLACEHOLDER[where].encode(), text.encode()))
    accepted, out = lammps_verdict(lmp, tmp_path, lammps_script())
    assert not accepted, out[-3000:]


# (inputs the build refuses, what the refusal says, the edit of a sound build's file that shows LAMMPS refusing
# the same number, or None where the refusal comes from the derived angles and was checked by hand)
NUMBERS = {
    "cross-epsilon-overflow": (dict(epsilon=1e200, explicit_lb=True),
                               "cannot write forcefield.lmp: the epsilon of pair_coeff 1 2 (A-B) is inf",
                               ("forcefield.lmp", r"(?m)^(pair_coeff 1 2) \S+", r"\1 inf")),
    "placeholder-length-overflow": (dict(rigid=True, spread=1e155),
                                    "cannot write forcefield.lmp: the r0 of bond_coeff 1 (A-B) is inf",
                                    ("forcefield.lmp", r"(?m)^(bond_coeff 1 \S+) \S+", r"\1 inf")),
    "box-prints-as-zero": (dict(box=4e-7), "got 0.0000004, which data.lmp (6 decimals) would write as 0.000000",
                           ("data.lmp", r"(?m)^0\.0 \S+ (.)lo", r"0.0 0.000000 \1lo")),
    "zero-mass": (dict(mass=0.0), "mass of PseudoAtoms entry 'A' in ", ("forcefield.lmp", r"(?m)^mass 1 \S+", "mass 1 0")),
    "self-bond": (dict(connectivity=[(0, 1), (1, 1)]), "Connectivity bonds atom 1 to itself (1, 1)", None),
    "repeated-pair": (dict(connectivity=[(0, 1), (1, 0)], rigid=True),
                      "Connectivity lists the bond (1, 0) a second time (first as (0, 1))", None),
}


@pytest.mark.parametrize("case", NUMBERS.values(), ids=NUMBERS.keys())
def test_numbers_lammps_refuses_are_refused_before_anything_is_written(lmp, tmp_path, case):
    inputs, refusal, edit = case
    with pytest.raises(RuntimeError) as info:
        build_two_types(tmp_path / "refused", **inputs)
    assert refusal in str(info.value)
    assert sorted(p.name for p in (tmp_path / "refused").iterdir()) == ["force_field.json", "mol.json"]
    if edit is None:
        return
    build_two_types(tmp_path, explicit_lb=True)
    name, pattern, replacement = edit
    text = (tmp_path / name).read_text()
    edited = re.sub(pattern, replacement, text)
    assert edited != text
    (tmp_path / name).write_text(edited)
    accepted, out = lammps_verdict(lmp, tmp_path, lammps_script())
    assert not accepted, out[-3000:]


# --- Presets that LAMMPS will refuse: the summary says so ----------------------------------------

WATER_H_FIRST = {"Type": "rigid", "pseudoAtoms": [["Hw", [1.0, 0.0, 0.0]], ["Ow", [0.0, 0.0, 0.0]],
                                                  ["Hw", [-0.333313, 0.942816, 0.0]]], "Connectivity": [[1, 0], [1, 2]]}
METHOXY = {"Type": "rigid", "pseudoAtoms": [["CH3", [-1.43, 0.0, 0.0]], ["Ow", [0.0, 0.0, 0.0]],
                                            ["Hw", [0.333313, 0.942816, 0.0]]], "Connectivity": [[0, 1], [1, 2]]}
TIP4P_WARNING = "warning: the Tip4p preset takes atom types 1 and 2 as the oxygen and hydrogen of a water"
UNCHARGED_WARNING = "warning: every atom type has charge 0, and LAMMPS refuses the kspace_style of the "

# (preset, [(species, count)], change to the force field, the warning foretold or None)
PRESETS = {
    "tip4p-water-first": ("Tip4p", [("water", 8), ("methane", 4)], None, None),
    "tip4p-hydrogen-first": ("Tip4p", [("water_h_first", 8)], None,
                             TIP4P_WARNING + ", bond type 1 as its O-H bond and angle type 1 as its H-O-H angle, but "
                             "the first species 'water_h_first' (atoms Hw, Ow, Hw) is not an oxygen, written first, "
                             "bonded to two hydrogens of one type;"),
    "tip4p-methane-first": ("Tip4p", [("methane", 4), ("water", 8)], None,
                            TIP4P_WARNING + ", bond type 1 as its O-H bond and angle type 1 as its H-O-H angle, but "
                            "the first species 'methane' has 1 atoms, not 3;"),
    "tip4p-oxygen-shared": ("Tip4p", [("water", 8), ("methoxy", 2)], None,
                            "but species 'methoxy' has atom type 1 (Ow) at atom 1 without two atoms of type 2 (Hw) "
                            "after it;"),
    "tip4p-hydrogen-well": ("Tip4p", [("water", 8)], "hydrogen-well",
                            "warning: the Tip4p preset needs the water hydrogen, atom type 2 (Hw), to have no "
                            "Lennard-Jones well, but pair_coeff 2 2 gives it epsilon 0.0198720 kcal/mol;"),
    "tip4p-hydrogen-well-below-print": ("Tip4p", [("water", 8)], "hydrogen-speck", None),
    "tip4p-uncharged": ("Tip4p", [("water", 8)], "uncharged", UNCHARGED_WARNING + "Tip4p preset"),
    "coul-long-uncharged": ("LjCutCoulLong", [("methane", 8)], None, UNCHARGED_WARNING + "LjCutCoulLong preset"),
    # LAMMPS sums the squared charges: 1e-200 squared is 0.
    "coul-long-charge-speck": ("LjCutCoulLong", [("water", 8)], "speck", UNCHARGED_WARNING + "LjCutCoulLong preset"),
    "coul-long-charged": ("LjCutCoulLong", [("methane", 4), ("water", 8)], None, None),
    "lj-cut-uncharged": ("LjCut", [("methane", 8)], None, None),
}


@pytest.mark.parametrize("case", PRESETS.values(), ids=PRESETS.keys())
def test_presets_lammps_will_refuse_carry_a_warning(lmp, tmp_path, case):
    preset, species_counts, ff_change, warning = case
    files = {"water": EXAMPLES / "water.json", "methane": EXAMPLES / "methane.json"}
    for name, doc in (("water_h_first", WATER_H_FIRST), ("methoxy", METHOXY)):
        files[name] = tmp_path / f"{name}.json"
        files[name].write_text(json.dumps(doc))
    ff = json.loads((EXAMPLES / "force_field.json").read_text())
    if ff_change in ("uncharged", "speck"):
        for atom in ff["PseudoAtoms"]:
            atom["charge"] = 0.0 if ff_change == "uncharged" else 1e-200
    elif ff_change in ("hydrogen-well", "hydrogen-speck"):  # 10 K is written as 0.0198720, 2e-5 K as 0.0000000
        ff["SelfInteractions"].append({"name": "Hw", "parameters": [10.0 if ff_change == "hydrogen-well" else 2e-5, 1.0]})
    (tmp_path / "force_field.json").write_text(json.dumps(ff))

    molecules = [template(files[name]) for name, count in species_counts for _ in range(count)]
    coords, box = lattice(molecules, spacing=8.0)
    summary = _native.pack_from_coords_py([str(files[n]) for n, _ in species_counts], [c for _, c in species_counts],
                                          coords, box, pair_style=getattr(PyPairSetup, preset),
                                          force_field=str(tmp_path / "force_field.json"), out_dir=str(tmp_path))
    foretold = [line for line in summary.splitlines() if line.startswith("warning:") and "LAMMPS" in line
                and "rigid placeholder" not in line and "might be adjusted" not in line]
    accepted, out = lammps_verdict(lmp, tmp_path, lammps_script())
    if warning is None:
        assert foretold == []
        assert accepted, out[-3000:]
    else:
        assert len(foretold) == 1 and warning in foretold[0], summary
        assert not accepted, out[-3000:]
