"""pack_with_raspa3: boxes built by the real RASPA3, read back by the LAMMPS writers and by LAMMPS."""

from __future__ import annotations

import importlib.util
import json
import math
import re
import sys

import numpy as np
import pytest

from cellkit import _native
from cellkit import raspa_init as ri
from helpers import EXAMPLES, lammps_script, run_lammps, template, write_json, zigzag

FF = str(EXAMPLES / "force_field.json")
WATER, METHANE, BUTANE = (str(EXAMPLES / f"{n}.json") for n in ("water", "methane", "butane"))
PENTANE = str(EXAMPLES / "alkanes" / "pentane.json")
MASS = {WATER: 15.9994 + 2 * 1.008, METHANE: 16.043, BUTANE: 2 * 15.035 + 2 * 14.027}
CHARGES = {WATER: [-0.8476, 0.4238, 0.4238], METHANE: [0.0]}
FF_DOC = json.loads((EXAMPLES / "force_field.json").read_text())


def pack(species, counts, density, force_field=FF, cycles=2):
    return ri.pack_with_raspa3(counts=counts, density=density, force_field_path=force_field, molecule_paths=species,
                               n_equil_cycles=cycles, n_init_cycles=cycles, n_prod_cycles=cycles, temperature=300.0)


distances = lambda pos: np.linalg.norm(pos[:, None, :] - pos[None, :, :], axis=-1)  # noqa: E731


@pytest.mark.skipif(importlib.util.find_spec("raspalib") is None, reason="no raspalib (pip install 'cellkit[raspa]')")
def test_real_raspa3_box_reaches_lammps_with_molecules_intact(lmp, tmp_path):
    # RASPA3 inserts the bulkier species first (butane, methane, water), so its order differs from the one
    # given, past a count-0 species; butane's flexible template moves as a rigid body.
    species, counts, density = [WATER, PENTANE, METHANE, BUTANE], [8, 0, 12, 6], 500.0
    box_len, coords = pack(species, counts, density)

    total_mass = sum(MASS[s] * c for s, c in zip(species, counts) if c)
    assert box_len == pytest.approx(math.cbrt(total_mass / 6.02214076e23 / (density / 1000.0) * 1e24), rel=1e-14)
    xyz = np.array(coords, dtype=float)
    assert xyz.shape == (sum(len(template(s)) * c for s, c in zip(species, counts)), 3)
    start = 0
    for s, c in zip(species, counts):
        shape = template(s)
        for _ in range(c):  # whole rigid bodies of the template's shape, atoms in file order, centred in the box
            mol = xyz[start:start + len(shape)]
            np.testing.assert_allclose(distances(mol), distances(shape), atol=1e-6)
            assert ((mol.mean(axis=0) >= 0.0) & (mol.mean(axis=0) <= box_len)).all(), mol
            start += len(shape)

    _native.pack_from_coords_py(species, counts, coords, box_len, pair_style=_native.PyPairSetup.LjCutCoulLong,
                                force_field=FF, out_dir=str(tmp_path))
    run = run_lammps(lmp, tmp_path, lammps_script())
    # Atoms outside the box are mapped in, with image flags that keep molecules whole.
    assert run.counts["atoms"] == len(coords) and run.warnings == [], run.warnings
    assert all(math.isfinite(v) for v in run.thermo.values()), run.thermo
    # Templates sit at the minimum of their bonds, bends and torsions: any broken molecule shows.
    assert all(abs(run.thermo[term]) < 1e-4 for term in ("E_bond", "E_angle", "E_dihed")), run.thermo


# (species, counts, density, keys added to the example force field, what RASPA3 is given: van der Waals and
# Coulomb cut-offs (None: half the box edge), shifted, tail corrections, Coulomb on)
@pytest.mark.parametrize("species, counts, density, keys, given", [
    ([WATER, METHANE], [8, 12], 500.0, {}, (None, None, False, True, True)),
    ([METHANE], [2000], 400.0, {}, (12.0, None, False, True, False)),
    ([WATER], [900], 1000.0, {"CutOff": 10.0, "TruncationMethod": "shifted", "TailCorrections": False,
                              "CutOffCoulomb": 9.0}, (12.0, 9.0, True, False, True)),
    ([WATER], [900], 1000.0, {"TruncationMethod": "Shifted", "ChargeMethod": "None"},
     (12.0, None, True, True, False)),
])
def test_raspa3_is_given_the_file_model_and_charges_with_cutoffs_that_fit(tmp_path, species, counts, density, keys,
                                                                          given):
    active = [(i, ri._load_molecule(s), c) for i, (s, c) in enumerate(zip(species, counts))]
    plan = ri._plan(active, ri._load_force_field(write_json(tmp_path / "ff.json", dict(FF_DOC, **keys))), density,
                    300.0, {})
    half = min(plan["box"]) / 2
    assert [plan[k] for k in ("cutoff_vdw", "cutoff_coulomb", "shifted", "tail_corrections", "use_charge")] == [
        half if v is None else v for v in given]
    for k, _, count, atoms in plan["species"]:
        expected = [(*atom, q) for atom, q in zip(ri._load_molecule(species[k]).atoms, CHARGES[species[k]])]
        assert (count, atoms) == (counts[k], expected)


EICOSANE = {"Type": "rigid", "pseudoAtoms": [["CH3" if i in (0, 19) else "CH2", p.tolist()]
                                             for i, p in enumerate(zigzag(20))]}
# (what differs from 50 waters at 500 kg/m³, the refusal); ff, mol: the text or document (None: missing) of a
# file ff.json or mol.json in place of the example force field or the molecule files
REFUSED = {
    "cores-fill-the-box": (dict(molecule_paths=[WATER, METHANE], counts=[8, 12], density=5000.0),
                           r"hard cores would fill 107 % .* here up to 934 kg/m³"),
    "long-chains-crowd": (dict(mol=EICOSANE, counts=[170], density=600.0),
                          r"cover it 4\.0 times \(at most 3\); here up to 449 kg/m³"),
    "box-below-two-spans": (dict(counts=[1], density=1000.0), r"box of 3\.104 Å is too small for water .* 1\.633"),
    "template-not-placed": (dict(mol={"pseudoAtoms": [["CH3", [0, 0, 0]]] * 2}),
                            r"mol.json: pseudoAtoms 0 and 1 are 0 Å apart"),
    "all-counts-zero": (dict(molecule_paths=[WATER, METHANE], counts=[0, 0]), "all species have count 0"),
    "counts-short": (dict(molecule_paths=[WATER, METHANE]), "molecule_paths has 2 entries but counts has 1"),
    "count-negative": (dict(molecule_paths=[WATER, METHANE], counts=[1, -1]), r"counts\[1\] must be a non-negative"),
    "density-bool": (dict(density=True), "density must be a positive finite number"),
    "temperature-nan": (dict(temperature=math.nan), "temperature must be a positive finite number"),
    "cycles-float": (dict(n_prod_cycles=2.0), "n_prod_cycles must be a non-negative integer"),
    "duplicate-key": (dict(ff='{"MixingRule": "x", "MixingRule": "x"}'), "ff.json: duplicate field `MixingRule`"),
    "nan-literal": (dict(mol='{"pseudoAtoms": [["Ow", [NaN, 0, 0]]]}'), "mol.json: NaN is not a JSON number"),
    "not-json": (dict(mol='{"pseudoAtoms": ['), r"parsing .*mol.json: "),  # then CPython's words
    "missing-file": (dict(ff=None), r"reading .*ff.json: "),  # then the system's
    "mixing-rule": (dict(ff=dict(FF_DOC, MixingRule="Jorgensen")), "unsupported MixingRule 'Jorgensen' in .*ff.json"),
    "no-pseudo-atoms": (dict(ff={"MixingRule": "Lorentz-Berthelot"}), "ff.json: the top level: missing field `Pseudo"),
    "mass-string": (dict(ff=dict(FF_DOC, PseudoAtoms=[["Ow", "16", 0]])), r"ff.json: PseudoAtoms\[0\].mass: expected"),
    "self-params": (dict(ff=dict(FF_DOC, SelfInteractions=[["Ow", "lennard-jones", [78.2]]])),
                    r"SelfInteractions for 'Ow' must have \[epsilon_K, sigma_Ang\], got \[78.2\]"),
    "self-type": (dict(ff=dict(FF_DOC, SelfInteractions=[["Ow", "buckingham", []]])),
                  "unsupported SelfInteractions type 'buckingham' for 'Ow'"),
    "atom-shape": (dict(mol={"pseudoAtoms": [["Ow", [0, 0]]]}), r"pseudoAtoms\[0\] position: expected 3"),
    "no-atoms": (dict(mol={"pseudoAtoms": []}), "mol.json defines no pseudoAtoms"),
    "unknown-type": (dict(mol={"pseudoAtoms": [["Xx", [0, 0, 0]]]}), "type 'Xx' of .*mol.json is not in .*field.json"),
}


@pytest.mark.parametrize("case", REFUSED.values(), ids=REFUSED.keys())
def test_refused_before_raspa3_runs_naming_file_entry_or_limit(monkeypatch, tmp_path, case):
    override, message = case
    monkeypatch.setattr(ri, "_import_raspalib", lambda: None)  # refusals come before RASPA3 is imported or started
    monkeypatch.setattr(ri, "_run_in_child", lambda plan: pytest.fail("RASPA3 was started"))
    args = dict(molecule_paths=[WATER], counts=[50], density=500.0, force_field_path=FF, n_equil_cycles=1,
                n_init_cycles=1, n_prod_cycles=1, temperature=300.0)
    for key, value in override.items():
        if key in ("ff", "mol"):
            path = tmp_path / f"{key}.json"
            if value is not None:
                path.write_text(value if isinstance(value, str) else json.dumps(value))
            key, value = ("force_field_path", str(path)) if key == "ff" else ("molecule_paths", [str(path)])
        args[key] = value
    with pytest.raises(ValueError, match=message):
        ri.pack_with_raspa3(**args)


def test_missing_raspalib_names_the_install_command(monkeypatch):
    monkeypatch.setitem(sys.modules, "raspalib", None)  # makes 'import raspalib' fail
    with pytest.raises(ImportError, match=re.escape("pip install 'cellkit[raspa]'")):
        pack([WATER], [10], 1000.0)


def test_array_forms_read_like_objects_and_types_without_self_entry_have_no_lj(tmp_path):
    as_arrays = dict(FF_DOC, PseudoAtoms=[list(a.values()) for a in FF_DOC["PseudoAtoms"]], SelfInteractions=[
        [s["name"], "Lennard-Jones", s["parameters"]] for s in FF_DOC["SelfInteractions"]])
    ff = ri._load_force_field(FF)
    assert ri._load_force_field(write_json(tmp_path / "ff.json", as_arrays)).pseudo_atoms == ff.pseudo_atoms
    assert (ff.pseudo_atoms["Ow"], ff.pseudo_atoms["Hw"]) == (
        ri._PseudoAtom(15.9994, -0.8476, 78.197, 3.166), ri._PseudoAtom(1.008, 0.4238, 0.0, 1.0))
    as_array = ri._load_molecule(write_json(tmp_path / "water.json", ["rigid", ri._load_molecule(WATER).atoms]))
    assert (as_array.name, as_array.atoms) == ("water", ri._load_molecule(WATER).atoms)
