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
                            TIP4P_WARNING + "the first species 'methane' has 1 atom, not 3;"),
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


# --- Through the command: each careless input stops with words that help, or warns, and leaves nothing ------

FF, WATER, METHANE, BUTANE = (str(EXAMPLES / f"{n}.json") for n in ("force_field", "water", "methane", "butane"))
WATER_XYZ = ["Ow 1.0 1.0 1.0", "Hw 2.0 1.0 1.0", "Hw 0.666687 1.942816 1.0"]


def _xyz(d: pathlib.Path, rows: list[str], name: str = "box.xyz") -> str:
    (d / name).write_text(f"{len(rows)}\nby hand\n" + "\n".join(rows) + "\n")
    return str(d / name)


def _coords(*extra: str) -> tuple[str, ...]:
    return ("pack", "coords", "--force-field", FF, "--box-len", "20", "--out-dir", "out", *extra)


def _packmol(*extra: str) -> tuple[str, ...]:
    return ("pack", "packmol", "--force-field", FF, "--species", WATER, "--counts", "10", "--out-dir", "out", *extra)


def _no_torsions(d: pathlib.Path) -> str:
    doc = json.loads(pathlib.Path(BUTANE).read_text())
    del doc["Torsions"]
    return write_json(d / "butane_free.json", doc)


def _inert(d: pathlib.Path) -> tuple[str, str]:
    ff = json.loads(pathlib.Path(FF).read_text())
    ff["PseudoAtoms"].append({"name": "Xe_dummy", "mass": 10.0, "charge": 0.0})
    mol = {"Type": "rigid", "pseudoAtoms": [["CH4", [0.0, 0.0, 0.0]], ["Xe_dummy", [1.0, 0.0, 0.0]]]}
    return write_json(d / "ff_inert.json", ff), write_json(d / "tagged.json", mol)


def _misspelt_self(d: pathlib.Path) -> str:
    ff = json.loads(pathlib.Path(FF).read_text())
    ff["SelfInteractions"].append({"name": "CH5", "parameters": [148.0, 3.73]})
    return write_json(d / "ff_typo.json", ff)


def _misspelt_type(d: pathlib.Path) -> str:
    doc = json.loads(pathlib.Path(BUTANE).read_text())
    doc["pseudoAtoms"][1][0] = "CH22"
    return write_json(d / "butane_typo.json", doc)


def _rod(d: pathlib.Path) -> str:
    rod = {"Type": "rigid", "pseudoAtoms": [["CH3", [0.0, 0.0, 0.0]], ["CH3", [20.0, 0, 0]]]}
    return write_json(d / "rod.json", rod)


# id: (arguments given the test's directory, exit code, words on stderr (1) or stdout (0))
CARELESS = {
    "a-box-smaller-than-a-molecule": (lambda d: ("pack", "packmol", "--force-field", FF, "--species", _rod(d),
                                                 "--counts", "1", "--density", "500", "--out-dir", "out"), 1,
                                      "cannot hold one molecule of 'rod', whose atoms span 20.000 Å: raise the counts "
                                      "or lower the density"),
    "xyz-in-another-order": (lambda d: _coords("--species", WATER, METHANE, "--counts", "1", "1", "--coords",
                                               _xyz(d, ["CH4 5 5 5", *WATER_XYZ])), 1,
                             "line 3: atom 1 is named 'CH4', but the species and counts put a Ow of water "
                             "(molecule 1)"),
    "unnamed-atoms-in-another-order": (lambda d: _coords("--species", WATER, METHANE, "--counts", "1", "1", "--coords",
                                                         _xyz(d, ["X 5 5 5"] + ["X" + r[2:] for r in WATER_XYZ])), 1,
                                       "molecule 1 of 'water' (atoms 1-3 of the coordinates): atoms 1 (Ow) and 2 (Hw)"
                                       " are "),
    "a-stretched-bond": (lambda d: _coords("--species", BUTANE, "--counts", "1", "--coords",
                                           _xyz(d, ["CH3 0 0 0", "CH2 1.29 0.84 0", "CH2 2.58 0 0", "CH3 9 0 0"])), 1,
                         "the bond of atoms 3 (CH2) and 4 (CH3) is 6.420 Å long, but 1.540 Å at rest"),
    "an-atom-missing": (lambda d: _coords("--species", WATER, "--counts", "2", "--coords",
                                          _xyz(d, WATER_XYZ + WATER_XYZ[:2])), 1,
                        "the coordinates hold 5 atoms, but the species and counts make 6 (2 water of 3)"),
    "pdb-is-a-directory": (lambda d: _packmol("--density", "1000", "--pdb", str(d)), 1,
                           f"cannot write the PDB file {{d}}: it is a directory"),
    "out-dir-under-a-file": (lambda d: _packmol("--density", "1000", "--out-dir", FF + "/out"), 1,
                             f"cannot write into {FF}/out: {FF} is not a directory"),
    "density-in-g-per-cm3-times-a-million": (lambda d: _packmol("--density", "1e9"), 1,
                                             "density 1000000000 kg/m³ is beyond any liquid's (at most 20000; water "
                                             "is 1000): the box edge would be 0.067 Å. Is the density in kg/m³?"),
    "raspa-density-zero": (lambda d: ("pack", "raspa", "--force-field", FF, "--species", METHANE, "--counts", "5",
                                      "--density", "0", "--out-dir", "out"), 1, "error: density must be positive\n"),
    "seed-beyond-packmol": (lambda d: _packmol("--density", "1000", "--seed", str(2**31)), 1,
                            "seed must be between 0 and 2147483647, got 2147483648"),
    "no-torsions": (lambda d: _coords("--species", _no_torsions(d), "--counts", "1", "--coords",
                                      _xyz(d, ["CH3 0 0 0", "CH2 1.29 0.84 0", "CH2 2.58 0 0", "CH3 3.87 0.84 0"])),
                    0, "warning: flexible species 'butane_free' has 1 dihedral with no Torsions entry "
                       "(1 CH3-CH2-CH2-CH3)"),
    "a-self-interaction-for-no-pseudo-atom": (lambda d: ("pack", "coords", "--force-field", _misspelt_self(d),
                                                         "--species", METHANE, "--counts", "1", "--coords",
                                                         _xyz(d, ["CH4 5 5 5"]), "--box-len", "30", "--out-dir",
                                                         "out"), 0,
                                              "warning: SelfInteractions entry 'CH5' in {d}/ff_typo.json names no "
                                              "PseudoAtoms entry and is not used"),
    "a-misspelt-type": (lambda d: ("pack", "packmol", "--force-field", FF, "--species", _misspelt_type(d),
                                   "--counts", "5", "--density", "600", "--out-dir", "out"), 1,
                        "error: molecule 'butane_typo' uses pseudo-atom type 'CH22' not present in the force field"),
    "an-atom-that-touches-nothing": (lambda d: ("pack", "coords", "--force-field", _inert(d)[0], "--species",
                                                _inert(d)[1], "--counts", "1", "--coords",
                                                _xyz(d, ["C 5 5 5", "X 6 5 5"]),
                                                "--box-len", "20", "--out-dir", "out"),
                                     0, "warning: pseudo-atom 'Xe_dummy' (in 'tagged') has no SelfInteractions entry "
                                        "and no charge: it interacts with nothing"),
}


@pytest.mark.parametrize("case", CARELESS.values(), ids=CARELESS.keys())
def test_careless_inputs_through_the_command(tmp_path, monkeypatch, case):
    from test_command import command

    args, code, words = case
    monkeypatch.chdir(tmp_path)
    given = args(tmp_path)
    before = sorted(p.name for p in tmp_path.iterdir())
    run = command(*given)
    said = run.stderr if code else run.stdout
    assert run.returncode == code and words.format(d=tmp_path) in said, (run.returncode, run.stdout, run.stderr)
    assert "Traceback" not in run.stderr
    if code:
        assert sorted(p.name for p in tmp_path.iterdir()) == before  # nothing left behind


@pytest.mark.parametrize("apart, code, words", [
    (0.0, 1, "error: the pair energy is inf: LAMMPS cannot simulate this box"),
    (1.0, 0, "warning: the pair energy is 8."),  # two methanes 1 Å apart: millions of kcal/mol
    (4.2, 0, None),  # near the minimum of their potential: nothing to say
], ids=["on-one-spot", "overlapping", "sound"])
def test_check_judges_the_energy(lmp, tmp_path, apart, code, words):
    from test_command import command

    out = tmp_path / "out"
    _native.pack_from_coords_py([METHANE], [2], [[5.0, 5, 5], [5.0 + apart, 5, 5]], 20.0, force_field=FF,
                                out_dir=str(out))
    run = command("check", str(out))
    assert run.returncode == code, run.stderr
    if words is None:
        assert "warning" not in run.stdout + run.stderr
    else:
        assert words in (run.stderr if code else run.stdout), (run.stdout, run.stderr)
