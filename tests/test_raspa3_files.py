"""RASPA3's own molecule and force-field files build as they stand: rigid molecules without bonds, FIXED bonds,
flexible molecules whose files put every atom at one point."""

from __future__ import annotations

import importlib.util
import json
import math

import numpy as np
import pytest

import cellkit.pack
from cellkit.pdb import read_atoms
from helpers import lammps_script, raspa3_examples_dir, run_lammps, write_json, zigzag

RIGID = "has no Connectivity: it is a rigid body, as RASPA3 takes it"
BUILT = "has its atoms on one point, as RASPA3's flexible molecule files have: cellkit built its geometry"
FIXED = "is FIXED at 1.54 Å by its Bonds entry; written with a placeholder constant"

# folder, molecule files, what the summary says about them
SYSTEMS = {
    "methane_ua": (["methane.json"], []),
    "co2_rigid": (["CO2.json"], ["'CO2' " + RIGID, "(atoms 0-1, 1-2)", "fix rigid/small on its molecules"]),
    "water_spce_3site": (["water.json"], ["'water' " + RIGID, "(atoms 0-1, 0-2)", "fix shake on its bonds and angle"]),
    "alkanes_trappe_flexible": (["butane.json", "pentane.json", "hexane.json"],
                                ["'butane' " + BUILT, "'pentane' " + BUILT, "'hexane' " + BUILT]),
    "propane_butane_fixed_bonds": (["propane.json", "butane.json"],
                                   ["'propane' " + BUILT, "bond CH3-CH2 " + FIXED, "bond CH2-CH2 " + FIXED]),
    "mfi_methane_gcmc": (["methane.json"], []),
}


def geometry(data_lmp, sizes: list[int]) -> tuple[list[float], list[float]]:
    """Bond lengths and bend angles (degrees) along every chain molecule of the box."""
    _, atoms = read_atoms(str(data_lmp))
    xyz, start, bonds, bends = np.array([a[3:] for a in atoms]), 0, [], []
    for n in sizes:
        chain = xyz[start:start + n]
        start += n
        steps = np.diff(chain, axis=0)
        bonds += np.linalg.norm(steps, axis=1).tolist()
        for u, v in zip(-steps[:-1], steps[1:]):
            bends.append(math.degrees(math.acos(np.dot(u, v) / np.linalg.norm(u) / np.linalg.norm(v))))
    return bonds, bends


@pytest.mark.parametrize("folder", SYSTEMS)
def test_raspa3_example_systems_build_with_packmol_as_they_stand(lmp, tmp_path, folder):
    files, said = SYSTEMS[folder]
    source = raspa3_examples_dir() / folder
    counts = [40] * len(files)
    summary = cellkit.pack.packmol([source / f for f in files], counts, 300.0, force_field=source / "force_field.json",
                                   out_dir=tmp_path, jobs=1)
    for fragment in said:
        assert fragment in summary, summary
    run = run_lammps(lmp, tmp_path, lammps_script())
    assert all(math.isfinite(v) for v in run.thermo.values()), run.thermo
    if folder == "alkanes_trappe_flexible":  # each molecule in the geometry its own terms give
        bonds, bends = geometry(tmp_path / "data.lmp", [4] * 40 + [5] * 40 + [6] * 40)
        assert max(abs(b - 1.54) for b in bonds) < 3e-3 and max(abs(a - 114.0) for a in bends) < 0.3


def test_refusals_and_what_needs_no_template(tmp_path):
    source = raspa3_examples_dir()
    tip5p = source / "water_tip5p_5site"
    with pytest.raises(RuntimeError, match="mass of PseudoAtoms entry 'Lw' in .* must be positive, got 0"):
        cellkit.pack.packmol([tip5p / "water.json"], [10], 500.0, force_field=tip5p / "force_field.json",
                             out_dir=tmp_path / "out")
    alkanes = source / "alkanes_trappe_flexible"
    ring = json.loads((alkanes / "pentane.json").read_text())
    ring["Connectivity"].append([4, 0])
    with pytest.raises(RuntimeError, match=r"ring\.json: atoms 4 and 0 close a ring in Connectivity"):
        cellkit.pack.packmol([write_json(tmp_path / "ring.json", ring)], [10], 500.0,
                             force_field=alkanes / "force_field.json", out_dir=tmp_path / "out")
    # A rigid molecule whose atoms share a point has no shape to keep, on any route.
    co2 = json.loads((source / "co2_rigid" / "CO2.json").read_text())
    co2["pseudoAtoms"][2][1] = co2["pseudoAtoms"][0][1]
    with pytest.raises(RuntimeError, match=r"flat\.json: pseudoAtoms 0 and 2 are 0\.0000 Å apart in the template"):
        cellkit.pack.from_coords([write_json(tmp_path / "flat.json", co2)], [1], [[0, 0, 0]] * 3, 20.0,
                                 force_field=source / "co2_rigid" / "force_field.json", out_dir=tmp_path / "out")
    assert not (tmp_path / "out").exists()
    # Positions given by the caller need no template: RASPA3's pentane builds from them as it stands.
    summary = cellkit.pack.from_coords([alkanes / "pentane.json"], [1], zigzag(5), 30.0,
                                       force_field=alkanes / "force_field.json", out_dir=tmp_path / "pentane")
    assert BUILT not in summary


def test_keys_that_differ_only_in_case_are_named(tmp_path):
    source = raspa3_examples_dir() / "co2_rigid"
    co2 = json.loads((source / "CO2.json").read_text())
    co2["type"] = co2.pop("Type")
    positions = [p for _, p in co2["pseudoAtoms"]]
    summary = cellkit.pack.from_coords([write_json(tmp_path / "CO2.json", co2)], [1], positions, 30.0,
                                       force_field=source / "force_field.json", out_dir=tmp_path / "out")
    assert (f"warning: {tmp_path / 'CO2.json'}: key \"type\" differs from \"Type\" only in letter case; RASPA3 reads "
            "it as \"Type\", cellkit reads keys as written and skips it: write \"Type\"\n") in summary


@pytest.mark.skipif(importlib.util.find_spec("raspalib") is None, reason="no raspalib (pip install 'cellkit[raspa]')")
def test_the_raspa3_route_packs_the_built_geometry(tmp_path):
    alkanes = raspa3_examples_dir() / "alkanes_trappe_flexible"
    cellkit.pack.raspa([alkanes / "pentane.json"], [30], 300.0, force_field=alkanes / "force_field.json",
                       out_dir=tmp_path)
    bonds, bends = geometry(tmp_path / "data.lmp", [5] * 30)
    assert max(abs(b - 1.54) for b in bonds) < 5e-5 and max(abs(a - 114.0) for a in bends) < 1e-2
