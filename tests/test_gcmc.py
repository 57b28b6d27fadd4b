"""A framework loaded by RASPA3's grand-canonical Monte Carlo: RASPA3's MFI zeolite with methane."""

from __future__ import annotations

import importlib.util
import json
import math
import pathlib
import re

import numpy as np
import pytest

from helpers import lammps_verdict, raspa3_examples_dir, write_json

pytestmark = pytest.mark.skipif(importlib.util.find_spec("raspalib") is None or importlib.util.find_spec("gemmi")
                                is None, reason="needs raspalib and gemmi")


@pytest.fixture
def mfi():
    from cellkit.framework import read_framework

    example = raspa3_examples_dir() / "mfi_methane_gcmc"
    if not example.is_dir():
        pytest.skip("RASPA3's MFI example is not here")
    return example, read_framework(example / "MFI_SI.cif", example / "force_field.json")


def test_methane_loads_mfi_and_comes_back_as_positions(mfi):
    from cellkit.gcmc import gcmc_with_raspa3

    example, framework = mfi
    loading = gcmc_with_raspa3(framework, [example / "methane.json"], example / "force_field.json", 300.0, 1.0e5,
                               n_init_cycles=300, n_prod_cycles=300, seed=7)
    assert loading.cells == (2, 2, 2)  # the widths twice the 12 Å cut-off
    assert (loading.box.a, loading.box.b, loading.box.c) == pytest.approx((40.044, 39.798, 26.766))
    # The framework: 288 atoms a cell, the first cell's where the CIF puts them, the next ones one edge on.
    atoms = np.array(loading.framework)
    cell = np.array([framework.cell.a, framework.cell.b, framework.cell.c])
    assert atoms.shape == (8 * 288, 3)
    first = np.array([a.fractional for a in framework.atoms]) * cell
    assert np.allclose(atoms[:288], first, atol=1e-6)
    copies = [atoms[k * 288:(k + 1) * 288] - first for k in range(8)]
    shifts = sorted(tuple(np.round(c.mean(axis=0) / cell).astype(int)) for c in copies)
    assert shifts == [(i, j, k) for i in (0, 1) for j in (0, 1) for k in (0, 1)]
    # The guests: one atom each, as many as RASPA3 counts, inside the box by their centre; a loading of
    # about 20 to 30 molecules in two by two by two cells at 1 bar.
    (methane,) = loading.molecules
    assert len(methane) == loading.final[0] and all(len(m) == 1 for m in methane)
    assert 10 < loading.average[0][0] < 45 and loading.average[0][1] > 0
    # Per unit cell and per kg of framework: 96 Si and 192 O a cell, by the force field's masses.
    mean, error = loading.average[0]
    assert loading.per_unit_cell(0) == pytest.approx((mean / 8, error / 8))
    cell_mass = 96 * 28.0855 + 192 * 15.9994
    assert loading.mol_per_kg(0) == pytest.approx((mean / (8 * cell_mass / 1000), error / (8 * cell_mass / 1000)))
    assert str(loading).startswith(f"loading in 2 × 2 × 2 unit cells:\n  methane: {loading.final[0]} at the end; "
                                   f"average {mean:.2f} ± {error:.2f} molecules, {mean / 8:.3f} ± {error / 8:.3f} per "
                                   "unit cell, ")


def test_what_cannot_be_loaded_is_refused(mfi, tmp_path):
    from cellkit.gcmc import gcmc_with_raspa3

    example, framework = mfi
    methane = json.loads((example / "methane.json").read_text())
    no_constants = write_json(tmp_path / "plain.json", {k: v for k, v in methane.items() if not k.startswith(("Crit",
                                                                                                              "Acen"))})
    silicon = write_json(tmp_path / "silicon.json", {**methane, "pseudoAtoms": [["Si", [0.0, 0.0, 0.0]]]})
    ff, guest = example / "force_field.json", example / "methane.json"
    for args, fault in [
        (([guest], ff, 300.0, 0.0), "pressure must be a positive finite number (Pa), got 0.0"),
        (([silicon], ff, 300.0, 1e5), f"{silicon}: pseudo-atom Si belongs to the framework, not to a guest molecule"),
        (([no_constants], ff, 300.0, 1e5), f"{no_constants} gives no CriticalTemperature, CriticalPressure, "
                                           "AcentricFactor, which RASPA3 needs"),
    ]:
        with pytest.raises(ValueError, match="^" + re.escape(fault)):
            gcmc_with_raspa3(framework, *args)
    with pytest.raises(ValueError, match=re.escape("1 x 2 x 2 unit cells of MFI_SI are 20.022 Å wide at the "
                                                   "narrowest, less than twice the 12 Å cut-off: take at least "
                                                   "2 x 2 x 2")):
        gcmc_with_raspa3(framework, [guest], ff, 300.0, 1e5, cells=(1, 2, 2))


def _lammps_energies(lmp, out_dir, charged: bool) -> dict[str, float]:
    """LAMMPS's energies (kcal/mol) of the written box: framework-guest and guest-guest Lennard-Jones by
    compute group/group with every charge off, and the Coulomb energy less the framework's alone."""
    head = ("units real\natom_style full\nread_data data.lmp\ninclude forcefield.lmp\n"
            "group guests subtract all framework\n")
    vdw = (head + "set group all charge 0.0\ncompute fg framework group/group guests\n"
           "compute gg guests group/group guests\nthermo_style custom step c_fg c_gg evdwl\nrun 0\n"
           'print "VDW $(c_fg:%.15g) $(c_gg:%.15g) $(evdwl:%.15g)"\n')
    coulomb = (head + "thermo_style custom step ecoul elong\nrun 0\nvariable all equal $(ecoul+elong:%.15g)\n"
               "delete_atoms group guests\nrun 0\nprint \"COULOMB ${all} $(ecoul+elong:%.15g)\"\n")
    _, out = lammps_verdict(lmp, out_dir, vdw)
    fg, gg, box = map(float, re.search(r"^VDW (\S+) (\S+) (\S+)$", out, re.M).groups())
    # The box's own Lennard-Jones energy is RASPA3's too: the framework's pairs with itself are left out.
    assert box == pytest.approx(fg + gg, rel=1e-9)
    energies = {"framework_guest_vdw": fg, "guest_guest_vdw": gg}
    if charged:
        accepted, out = lammps_verdict(lmp, out_dir, coulomb)
        assert accepted, out[-3000:]
        both, framework = map(float, re.search(r"^COULOMB (\S+) (\S+)$", out, re.M).groups())
        energies["coulomb"] = both - framework
    return energies


@pytest.mark.parametrize("example, guest, charged", [("mfi_methane_gcmc", "methane.json", False),
                                                     ("mfi_co2_gcmc", "CO2.json", True)])
def test_lammps_counts_the_loaded_framework_as_raspa3_does(example, guest, charged, lmp, tmp_path):
    from cellkit._native import PyPairSetup
    from cellkit.framework import read_framework
    from cellkit.gcmc import gcmc_with_raspa3, lammps_box, write_lammps
    from cellkit.raspa_init import energies_with_raspa3

    here = raspa3_examples_dir() / example
    if not here.is_dir():
        pytest.skip(f"RASPA3's {example} is not here")
    ff, molecule = here / "force_field.json", here / guest
    framework = read_framework(here / "MFI_SI.cif", ff)
    loading = gcmc_with_raspa3(framework, [molecule], ff, 300.0, 1.0e5, n_init_cycles=200, n_prod_cycles=100,
                               seed=11)
    assert loading.final[0] > 5
    write_lammps(loading, framework, [molecule], ff, tmp_path, PyPairSetup.ForceField)
    got = _lammps_energies(lmp, tmp_path, charged)
    # RASPA3's energies of its last configuration; data.lmp holds its positions to 7 digits, which
    # moves a guest-guest sum of a few kcal/mol by up to 1e-5 of itself: that one RASPA3 evaluates
    # again at the written positions, without the framework (its Python API places guests only so).
    want = loading.energies
    assert got["framework_guest_vdw"] == pytest.approx(want["framework_guest_vdw"], rel=1e-6)
    atoms = (tmp_path / "data.lmp").read_text().split("\nAtoms\n")[1].split("\nBonds\n")[0]
    guests = [[float(v) for v in row[4:7]] for row in map(str.split, atoms.splitlines()) if row and row[1] != "1"]
    written = energies_with_raspa3(loading.final, ff, [molecule], guests, lammps_box(loading.box)[:3])
    assert got["guest_guest_vdw"] == pytest.approx(written["vdw"], rel=1e-6)
    assert written["vdw"] == pytest.approx(want["guest_guest_vdw"], rel=1e-4)
    if charged:
        assert got["coulomb"] == pytest.approx(want["coulomb"], rel=1e-3)


TILTED = """data_leaning
_cell_length_a 10.0
_cell_length_b 11.0
_cell_length_c 12.0
_cell_angle_alpha 90
_cell_angle_beta 105.0
_cell_angle_gamma 90
_symmetry_space_group_name_H-M 'P 1'
loop_
_symmetry_equiv_pos_as_xyz
 'x,y,z'
loop_
_atom_site_label
_atom_site_type_symbol
_atom_site_fract_x
_atom_site_fract_y
_atom_site_fract_z
Zn1 Zn 0.0 0.0 0.0
O1 O 0.2 0.1 0.05
O2 O 0.0 0.5 0.3
"""


def test_a_tilted_framework_is_counted_as_raspa3_counts_it(lmp, tmp_path):
    """A monoclinic cell of our own (beta 105°, charged) loaded with TraPPE CO2 and methane: the same
    agreement."""
    from cellkit._native import PyPairSetup
    from cellkit.framework import read_framework
    from cellkit.gcmc import gcmc_with_raspa3, write_lammps

    (tmp_path / "leaning.cif").write_text(TILTED)
    ff = write_json(tmp_path / "ff.json", {
        "MixingRule": "Lorentz-Berthelot", "TruncationMethod": "shifted", "TailCorrections": False,
        "CutOffVDW": 10.0, "CutOffCoulomb": 10.0,
        "PseudoAtoms": [{"name": "Zn", "framework": True, "mass": 65.38, "charge": 1.0},
                        {"name": "O", "framework": True, "mass": 15.999, "charge": -0.5},
                        {"name": "C_co2", "framework": False, "mass": 12.011, "charge": 0.70},
                        {"name": "O_co2", "framework": False, "mass": 15.999, "charge": -0.35},
                        {"name": "CH4", "framework": False, "mass": 16.043, "charge": 0.0}],
        "SelfInteractions": [{"name": n, "type": "lennard-jones", "parameters": p} for n, p in
                             [("Zn", [62.4, 2.46]), ("O", [30.2, 3.12]), ("C_co2", [27.0, 2.80]),
                              ("O_co2", [79.0, 3.05]), ("CH4", [148.0, 3.73])]]})
    co2 = write_json(tmp_path / "co2.json", {
        "CriticalTemperature": 304.13, "CriticalPressure": 7.3773e6, "AcentricFactor": 0.2239, "Type": "rigid",
        "pseudoAtoms": [["O_co2", [0.0, 0.0, 1.16]], ["C_co2", [0.0, 0.0, 0.0]], ["O_co2", [0.0, 0.0, -1.16]]]})
    ch4 = write_json(tmp_path / "ch4.json", {"CriticalTemperature": 190.56, "CriticalPressure": 4.599e6,
                                             "AcentricFactor": 0.011, "pseudoAtoms": [["CH4", [0.0, 0.0, 0.0]]]})
    framework = read_framework(tmp_path / "leaning.cif", ff)
    loading = gcmc_with_raspa3(framework, [co2, ch4], ff, 300.0, 2.0e6, n_init_cycles=100, n_prod_cycles=50, seed=3)
    assert loading.cells == (3, 2, 2) and min(loading.final) > 3
    out = tmp_path / "out"
    summary = write_lammps(loading, framework, [co2, ch4], ff, out, PyPairSetup.ForceField)
    beta = math.radians(105.0)
    assert "box: 30.000 × 22.000 × 23.182 Å, tilted xy 0.000 xz -6.212 yz 0.000" in summary
    assert f"{24 * math.sin(beta):.6f}" == "23.182220"
    got = _lammps_energies(lmp, out, charged=True)
    want = loading.energies
    # Guests pressed against the framework make sums of a fraction of a kcal/mol out of terms of tens,
    # so sums are compared to the terms' absolute sum, which the test takes itself from data.lmp: LAMMPS's
    # to a millionth of it; RASPA3's, of its own unrounded positions, to 1e-5, as data.lmp holds seven
    # digits of a position (measured: 2e-6; 7e-8 from the unrounded positions).
    for key, ours in [("framework_guest_vdw", True), ("guest_guest_vdw", False)]:
        total, gross = _lennard_jones(out / "data.lmp", ff, 10.0, framework_guest=ours)
        assert abs(got[key] - total) <= 1e-6 * gross, key
        assert abs(got[key] - want[key]) <= 1e-5 * gross, key
    assert got["coulomb"] == pytest.approx(want["coulomb"], rel=1e-3)
    # The starter input moves the guests and holds the framework where it is, to the last digit.
    run = tmp_path / "run"
    write_lammps(loading, framework, [co2, ch4], ff, run, PyPairSetup.ForceField, starter=(300.0, None))
    accepted, log = lammps_verdict(lmp, run, "variable steps index 50\ninclude in.lammps\n")
    assert accepted, log[-3000:]
    cell = np.array(framework.cell.vectors()) * np.array(loading.cells)[:, None]
    before, after = (_positions(run / name, cell) for name in ("data.lmp", "final.data"))
    assert len(before) == len(after) == 36 + 3 * loading.final[0] + loading.final[1]
    still = [i for i, (mol, _) in before.items() if mol == 1]
    assert len(still) == 36 and all(after[i][1] == pytest.approx(before[i][1], abs=1e-6) for i in still)
    assert max(np.linalg.norm(after[i][1] - before[i][1]) for i in before if i not in still) > 0.1


def _positions(data_file, cell) -> dict[int, tuple[int, np.ndarray]]:
    """Atom ID -> (molecule ID, position unwrapped by its image flags) of a data file, ours or LAMMPS's."""
    atoms = data_file.read_text().split("\nAtoms")[1].split("\n\n")[1]
    positions = {}
    for r in map(str.split, atoms.splitlines()):
        flags = [int(n) for n in r[7:10]] if r[7] != "#" else [0, 0, 0]
        positions[int(r[0])] = (int(r[1]), np.array([float(v) for v in r[4:7]]) + np.array(flags) @ cell)
    return positions


def _lennard_jones(data_lmp, force_field, cutoff, framework_guest) -> tuple[float, float]:
    """The shifted Lennard-Jones energy (kcal/mol) between the framework (molecule 1) and the guests, or
    between guests of different molecules, and the sum of its terms' sizes, by every image in the
    tilted box."""
    text = data_lmp.read_text()
    lx, ly, lz = (float(line.split()[1]) for line in text.splitlines() if line.endswith(("lo xhi", "lo yhi", "lo zhi")))
    xy, xz, yz = (float(v) for v in next(x for x in text.splitlines() if x.endswith("xy xz yz")).split()[:3])
    cell = np.array([[lx, 0, 0], [xy, ly, 0], [xz, yz, lz]])
    images = np.array([i * cell[0] + j * cell[1] + k * cell[2] for i in (-1, 0, 1) for j in (-1, 0, 1)
                       for k in (-1, 0, 1)])
    rows = [r for r in map(str.split, text.split("\nAtoms\n")[1].split("\nBonds\n")[0].splitlines()) if r]
    kind = [r[-2] for r in rows]
    mol = np.array([int(r[1]) for r in rows])
    pos = np.array([[float(v) for v in r[4:7]] for r in rows])
    lj = {e["name"]: e["parameters"] for e in json.loads(pathlib.Path(force_field).read_text())["SelfInteractions"]}
    total = gross = 0.0
    for i in np.flatnonzero(mol > 1):
        others = np.flatnonzero(mol == 1) if framework_guest else np.flatnonzero((mol > mol[i]))
        r = np.linalg.norm(pos[others][:, None, :] - pos[i] + images[None, :, :], axis=2)
        for j, row in zip(others, r, strict=True):
            eps = math.sqrt(lj[kind[i]][0] * lj[kind[j]][0])
            sigma = 0.5 * (lj[kind[i]][1] + lj[kind[j]][1])
            near = row[row < cutoff]
            terms = 4 * eps * ((sigma / near) ** 12 - (sigma / near) ** 6)
            terms -= 4 * eps * ((sigma / cutoff) ** 12 - (sigma / cutoff) ** 6)
            total += terms.sum()
            gross += np.abs(terms).sum()
    kcal = 0.0019872041  # per kelvin
    return total * kcal, gross * kcal


def test_a_framework_file_is_placed_never_packed(tmp_path):
    """A molecule file of "Type": "framework" (what the loaded box is written through): refusals."""
    from cellkit import pack

    ff = write_json(tmp_path / "ff.json", {
        "MixingRule": "Lorentz-Berthelot",
        "PseudoAtoms": [{"name": "Si", "framework": True, "mass": 28.0855, "charge": 0.0},
                        {"name": "CH4", "framework": False, "mass": 16.043, "charge": 0.0}],
        "SelfInteractions": [{"name": "Si", "type": "lennard-jones", "parameters": [22.0, 2.3]},
                             {"name": "CH4", "type": "lennard-jones", "parameters": [148.0, 3.73]}]})
    # No Connectivity: a framework's atoms are bonded to nothing.
    wall = write_json(tmp_path / "wall.json", {"Type": "framework", "pseudoAtoms": [["Si", [0.0, 0.0, 0.0]],
                                                                                  ["Si", [5.0, 5.0, 5.0]]]})
    gas = write_json(tmp_path / "gas.json", {"pseudoAtoms": [["CH4", [0.0, 0.0, 0.0]]]})
    coords = [[0.0, 0.0, 0.0], [5.0, 5.0, 5.0], [2.5, 2.5, 7.5]]
    box = (10.0, 10.0, 10.0, 0.0, -2.0, 0.0)
    for call, fault in [
        (lambda: pack.packmol([wall, gas], [1, 1], 500.0, force_field=ff, out_dir=tmp_path / "a"),
         "'wall' is a framework (\"Type\": \"framework\"), which is placed whole, not packed"),
        (lambda: pack.from_coords([wall, gas], [1, 1], coords, box, force_field=ff, out_dir=tmp_path / "b",
                                  lammps_input=True, pressure=1.0),
         "in.lammps: the framework holds the box's shape and size, so the run is NVT: leave out the pressure"),
        (lambda: pack.from_coords([wall], [1], coords[:2], box, force_field=ff, out_dir=tmp_path / "c",
                                  lammps_input=True),
         "in.lammps: the box holds nothing but a framework, which is held still: nothing would move"),
        (lambda: pack.from_coords([wall, gas], [1, 1], coords, box[:4], force_field=ff, out_dir=tmp_path / "d"),
         "expected one box edge, three (x, y, z) or three and the tilts (x, y, z, xy, xz, yz), got 4"),
    ]:
        with pytest.raises((RuntimeError, ValueError), match=re.escape(fault)):
            call()
    assert sorted(p.name for p in tmp_path.iterdir()) == ["ff.json", "gas.json", "wall.json"]
    # Written, the tilted box keeps its tilts and the framework its group.
    summary = pack.from_coords([wall, gas], [1, 1], coords, box, force_field=ff, out_dir=tmp_path / "e")
    assert "box: 10.000 × 10.000 × 10.000 Å, tilted xy 0.000 xz -2.000 yz 0.000" in summary
    assert "0.000000 -2.000000 0.000000 xy xz yz\n" in (tmp_path / "e" / "data.lmp").read_text()
    assert "group framework molecule 1:1  # wall\nneigh_modify exclude molecule/intra framework\n" in \
        (tmp_path / "e" / "forcefield.lmp").read_text()
    from cellkit.check import CheckError, compare_with_raspa3

    with pytest.raises(CheckError, match="has a tilted box: compare evaluates upright boxes of molecules"):
        compare_with_raspa3([wall, gas], [1, 1], tmp_path / "e", ff, lmp="lmp")


def test_the_command_loads_writes_and_reports(mfi, tmp_path, capsys):
    from cellkit import cli

    example, _ = mfi
    base = ["pack", "gcmc", "--framework", str(example / "MFI_SI.cif"), "--species", str(example / "methane.json"),
            "--force-field", str(example / "force_field.json"), "--temperature", "300", "--init-cycles", "50",
            "--prod-cycles", "50", "-q"]
    with pytest.raises(SystemExit) as usage:
        cli.main(base + ["--out-dir", str(tmp_path / "a")])
    assert usage.value.code == 2 and "--pressure" in capsys.readouterr().err
    assert cli.main(base + ["--pressure", "1e5", "--cells", "1", "2", "2", "--out-dir", str(tmp_path / "b")]) == 1
    assert "less than twice the 12 Å cut-off: take at least 2 x 2 x 2" in capsys.readouterr().err
    assert cli.main(base + ["--pressure", "1e5", "--out-dir", str(tmp_path / "c"), "--lammps-input",
                            "--pdb", str(tmp_path / "c.pdb")]) == 0
    out = capsys.readouterr().out
    assert "box: 40.044 × 39.798 × 26.766 Å  |" in out and "\nloading in 2 × 2 × 2 unit cells:\n  methane: " in out
    assert sorted(p.name for p in (tmp_path / "c").iterdir()) == ["data.lmp", "forcefield.lmp", "in.lammps"]
    assert not (tmp_path / "a").exists() and not (tmp_path / "b").exists()


def test_a_skewed_box_is_the_same_lattice_with_small_tilts():
    from cellkit.framework import Cell
    from cellkit.gcmc import lammps_box

    for cell in [Cell(10.0, 11.0, 36.0, 90.0, 105.0, 90.0), Cell(9.0, 30.0, 28.0, 70.0, 100.0, 115.0),
                 Cell(9.0, 10.0, 28.0, 60.0, 95.0, 100.0), Cell(12.0, 12.0, 12.0, 90.0, 90.0, 90.0)]:
        lx, ly, lz, xy, xz, yz = lammps_box(cell)
        assert abs(xy) <= lx / 2 + 1e-12 and abs(xz) <= lx / 2 + 1e-12 and abs(yz) <= ly / 2 + 1e-12
        # The cell's own vectors are whole-number combinations of the box's, and the volume is the same.
        box = np.array([[lx, 0, 0], [xy, ly, 0], [xz, yz, lz]])
        combination = np.array(cell.vectors()) @ np.linalg.inv(box)
        assert np.allclose(combination, np.round(combination), atol=1e-9)
        assert abs(np.linalg.det(np.round(combination))) == pytest.approx(1.0)
