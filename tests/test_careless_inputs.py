"""Careless and hostile inputs: what LAMMPS would misread or refuse is refused here, what it reads is accepted."""

from __future__ import annotations

import json
import pathlib
import re

import pytest

from cellkit import _native
from conftest import lammps_script, lammps_verdict

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
    "citation-triple-quote": ("source", 'Smith, """Water', """"source" of PseudoAtoms entry 'Qq' """),
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
        build_two_types(tmp_path / "refused", **{inputs: text, **({"first_type": "Qq"} if where == "source" else {})})
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
