"""The force-field pair style simulates the force-field file's own model: LAMMPS's energy of the written
files equals RASPA3's energy of the same box, RASPA3 being set up here from the JSON files alone."""

from __future__ import annotations

import importlib.util
import itertools
import json
import os
import pathlib

import numpy as np
import pytest

import cellkit.pack
from cellkit.check import compare_with_raspa3
from cellkit.cli import main
from cellkit.pdb import read_atoms
from helpers import EXAMPLES, lammps_script, raspa3_examples_dir, run_lammps, write_json

pytestmark = pytest.mark.skipif(importlib.util.find_spec("raspalib") is None,
                                reason="no raspalib (pip install 'cellkit[raspa]')")
KCAL_PER_RASPA3_UNIT = 1.6605402e-27 * 1e-20 / 1e-24 * 6.0221419947e23 / 8.314464919 * 0.0019872041


def raspa3_energies(ff: dict, molecules: list[dict], counts: list[int], positions: list, edge) -> tuple:
    """RASPA3's van der Waals (pairs and tail) and Coulomb energies in kcal/mol of rigid molecules at these
    positions in a cube of `edge` or a box of three edges, its force field set from the JSON as RASPA3 reads
    the keys."""
    edges = (edge,) * 3 if isinstance(edge, float) else tuple(edge)
    os.environ.setdefault("RASPALIB_QUIET", "1")
    import raspalib as r

    selves = {s["name"]: s["parameters"] for s in ff.get("SelfInteractions", [])}
    names = [a["name"] for a in ff["PseudoAtoms"]]
    charges = {a["name"]: a["charge"] for a in ff["PseudoAtoms"]}
    coulomb = ff.get("CutOffCoulomb", "auto")
    force_field = r.ForceField(
        [r.PseudoAtom(a["name"], False, a["mass"], a["charge"]) for a in ff["PseudoAtoms"]],
        [r.VDWParameters(*selves.get(n, (0.0, 1.0))) for n in names],
        cutoff_framework_vdw=ff.get("CutOffVDW", 12.0), cutoff_molecule_vdw=ff.get("CutOffVDW", 12.0),
        cutoff_coulomb=min(edges) / 2 if coulomb == "auto" else coulomb, shifted=ff.get("TruncationMethod") == "shifted",
        tail_corrections=ff.get("TailCorrections", False), use_charge=True)
    components, start, per_component = [], 0, []
    for k, (mol, count) in enumerate(zip(molecules, counts)):
        atoms = [r.Atom(tuple(p), charges[t], 1.0, 0, force_field.find_pseudo_atom(t), k)
                 for t, p in mol["pseudoAtoms"]]
        components.append(r.Component(force_field, f"c{k}", 0.0, 0.0, 0.0, defined_atoms=atoms,
                                      particle_probabilities=r.MCMoveProbabilities(translation_probability=1.0)))
        per_component.append(positions[start:start + count * len(atoms)])
        start += count * len(atoms)
    system = r.System(force_field, simulation_box=r.SimulationBox(*edges), components=components,
                      initial_positions=per_component, initial_number_of_molecules=[0] * len(counts))
    e = system.compute_total_energies()
    vdw, coul, total = (v * KCAL_PER_RASPA3_UNIT for v in (e.van_der_waals_energy(), e.coulomb_energy(),
                                                            e.potential_energy()))
    return vdw + (total - vdw - coul), coul


# (folder, molecule files, counts, density in kg/m³): RASPA3's own methane (Lennard-Jones shifted, no tail
# corrections), CO2 (as methane; Coulomb cut-off auto; rigid without Connectivity) and SPC/E water (truncated with tail corrections;
# no Coulomb cut-off; no "Type" and no Connectivity), as they stand; then our SPC/E water with methane, which needs no
# files from outside the project.
CASES = {"methane": ("methane_ua", ["methane.json"], [300], 400.0),
         "CO2": ("co2_rigid", ["CO2.json"], [300], 700.0),
         "water": ("water_spce_3site", ["water.json"], [500], 1000.0),
         "water+methane": (EXAMPLES / "water_methane", ["water.json", "methane.json"], [400, 20], 900.0)}


@pytest.mark.parametrize("case", CASES)
def test_lammps_and_raspa3_agree_on_raspa3s_own_example_systems(lmp, tmp_path, case):
    folder, files, counts, density = CASES[case]
    source = folder if isinstance(folder, pathlib.Path) else raspa3_examples_dir() / folder
    species = [source / name for name in files]
    molecules = [json.loads(path.read_text()) for path in species]
    ff = json.loads((source / "force_field.json").read_text())
    cellkit.pack.raspa(species, counts, density, init_cycles=5, equil_cycles=0, prod_cycles=5,
                       force_field=source / "force_field.json", out_dir=tmp_path)
    (edge, _, _), atoms = read_atoms(str(tmp_path / "data.lmp"))
    positions = [list(atom[3:]) for atom in atoms]
    assert edge > 24.0  # the 12 Å cut-off fits

    run = run_lammps(lmp, tmp_path, lammps_script(thermo="step evdwl ecoul elong"))
    vdw, coulomb = raspa3_energies(ff, molecules, counts, positions, edge)
    assert run.thermo["E_vdwl"] == pytest.approx(vdw, rel=2e-6)
    assert run.thermo["E_coul"] + run.thermo["E_long"] == pytest.approx(coulomb, rel=5e-5, abs=1e-9)

    # cellkit compare reports the same two evaluations.
    comparison = compare_with_raspa3(species, counts, tmp_path, source / "force_field.json")
    assert comparison.lammps["vdw"] + comparison.lammps["tail"] == pytest.approx(run.thermo["E_vdwl"], rel=1e-12)
    assert comparison.raspa3["vdw"] + comparison.raspa3["tail"] == pytest.approx(vdw, rel=1e-9)
    assert comparison.raspa3["coulomb"] == pytest.approx(coulomb, rel=1e-9, abs=1e-12)
    assert comparison.notes == []


def test_a_box_that_is_not_a_cube_keeps_the_model(lmp, tmp_path):
    # Waters on a lattice twice as long along z: the automatic Coulomb cut-off is half the shortest edge, and
    # the Ewald sum takes twice the wave vectors along z.
    source = EXAMPLES / "water_methane"
    water = json.loads((source / "water.json").read_text())
    ff = json.loads((source / "force_field.json").read_text())
    template = [p for _, p in water["pseudoAtoms"]]
    spacing, grid = 3.1, (8, 8, 16)
    edges = [spacing * n for n in grid]
    # Each water turned at random about its oxygen: a perfect lattice would leave most wave vectors out.
    rng = np.random.default_rng(7)
    positions = []
    for site in itertools.product(*(range(n) for n in reversed(grid))):
        turn = np.linalg.qr(rng.normal(size=(3, 3)))[0]
        centre = (np.array(site[::-1]) + 0.5) * spacing
        positions += (centre + np.array(template) @ turn.T).tolist()
    count = len(positions) // 3
    summary = cellkit.pack.from_coords([source / "water.json"], [count], positions, edges,
                                       force_field=source / "force_field.json", out_dir=tmp_path)
    assert "box: 24.800 × 24.800 × 49.600 Å  |" in summary and "cut-off" not in summary
    run = run_lammps(lmp, tmp_path, lammps_script(thermo="step evdwl ecoul elong lx ly lz"))
    assert [run.thermo[k] for k in ("Lx", "Ly", "Lz")] == pytest.approx(edges, abs=1e-6)
    vdw, coulomb = raspa3_energies(ff, [water], [count], positions, edges)
    assert run.thermo["E_vdwl"] == pytest.approx(vdw, rel=2e-6)
    # The total is a small difference of large real and reciprocal parts: the Ewald precision is theirs.
    assert run.thermo["E_coul"] + run.thermo["E_long"] == pytest.approx(coulomb, abs=5e-6 * run.thermo["E_coul"])


def test_flexible_species_are_compared_between_molecules(tmp_path, capsys):
    # Our own flexible alkanes, shifted at a 10 Å cut-off with RASPA3's older key: intramolecular Lennard-Jones is
    # LAMMPS's alone, and so is a charge that the flexible pentane carries here.
    alkanes = EXAMPLES / "alkanes"
    doc = json.loads((alkanes / "force_field.json").read_text())
    for atom in doc["PseudoAtoms"]:
        atom["charge"] = {"CH3": 0.1, "CH2": -0.1}.get(atom["name"], 0.0)
    doc.update(CutOff=10.0, TruncationMethod="shifted", TailCorrections=False)
    doc.pop("CutOffVDW", None)
    ff = write_json(tmp_path / "force_field.json", doc)
    species, counts = [alkanes / "pentane.json", alkanes / "hexane.json"], [60, 40]
    cellkit.pack.packmol(species, counts, 400.0, force_field=ff, out_dir=tmp_path, jobs=1)

    assert main(["compare", str(tmp_path), "--species", *map(str, species), "--counts", "60", "40",
                 "--force-field", ff]) == 0
    lines = capsys.readouterr().out.splitlines()
    assert lines[2].split()[:3] == ["van", "der", "Waals,"] and abs(float(lines[2].split()[-1])) < 2e-6, lines
    assert lines[6].startswith("LAMMPS only: van der Waals within molecules ")
    assert "model: Lennard-Jones cut-off 10 Å, shifted, no tail corrections; Coulomb cut-off" in lines[7]
    assert lines[8:] == [
        "note: species 'pentane' is flexible and charged: LAMMPS's Coulomb energy holds the intramolecular part of "
        "its atoms more than three bonds apart, RASPA3's here none",
        "note: species 'hexane' is flexible and charged: LAMMPS's Coulomb energy holds the intramolecular part of "
        "its atoms more than three bonds apart, RASPA3's here none"]
