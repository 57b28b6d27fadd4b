"""Boxes that are not cubes: rectangular boxes on every route, liquid slabs and layered liquids, each read
back by LAMMPS and judged by where the atoms are."""

from __future__ import annotations

import filecmp
import math
import pathlib

import numpy as np
import pytest

from cellkit import pack
from cellkit._native import _pack_packmol_sub_boxes_py as pack_sub_boxes_py, pack_packmol_py, pack_raspa_py
from helpers import EXAMPLES, lammps_script, run_lammps, thinnest_slab

pytestmark = pytest.mark.usefixtures("tmpdir_env")

FORCE_FIELD = str(EXAMPLES / "force_field.json")
WATER, METHANE = (str(EXAMPLES / f"{n}.json") for n in ("water", "methane"))
HEXANE = str(EXAMPLES / "alkanes" / "hexane.json")
WATER_MASS = 15.9994 + 2 * 1.008
HEXANE_MASS = 2 * 15.035 + 4 * 14.027  # TraPPE united atoms
AVOGADRO = 6.02214076e23


def volume(mass: float, density: float) -> float:
    """Å³ of `mass` g/mol at `density` kg/m³."""
    return mass / AVOGADRO / (density / 1000.0) * 1e24


def atoms(data_lmp: pathlib.Path) -> tuple[np.ndarray, np.ndarray, list[str], np.ndarray]:
    """Molecule ids, positions, type names and the three box edges of data.lmp."""
    lines = data_lmp.read_text().splitlines()
    edges = np.array([float(next(li for li in lines if li.endswith(f"{a}lo {a}hi")).split()[1]) for a in "xyz"])
    rows = [li.split() for li in lines[lines.index("Atoms") + 2:] if li.strip()]
    rows = rows[: next((i for i, r in enumerate(rows) if not r[0].isdigit()), len(rows))]
    return (np.array([int(r[1]) for r in rows]), np.array([[float(v) for v in r[4:7]] for r in rows]),
            [r[8] for r in rows], edges)


def closest_between(a: np.ndarray, b: np.ndarray, edges: np.ndarray) -> float:
    """The closest distance between two sets of atoms, by the nearest image along each axis."""
    delta = a[:, None] - b[None]
    delta -= edges * np.round(delta / edges)
    return float(np.linalg.norm(delta, axis=2).min())


def closest_other_molecule(mol: np.ndarray, pos: np.ndarray, edges: np.ndarray) -> float:
    delta = pos[:, None] - pos[None]
    delta -= edges * np.round(delta / edges)
    return float(np.linalg.norm(delta, axis=2)[mol[:, None] != mol[None]].min())


def read_by_lammps(lmp: str, out: pathlib.Path) -> tuple[np.ndarray, float]:
    """The box edges LAMMPS reads and its mass density, kg/m³."""
    run = run_lammps(lmp, out, lammps_script(thermo="step lx ly lz density pe"))
    assert math.isfinite(run.thermo["PotEng"]), run.out[-2000:]
    return np.array([run.thermo["Lx"], run.thermo["Ly"], run.thermo["Lz"]]), run.thermo["Density"] * 1000.0


# --- Rectangular boxes -----------------------------------------------------------------------------

N_WATER = 400
V_WATER = volume(N_WATER * WATER_MASS, 1000.0)


def _raspa(out, **shape):
    pytest.importorskip("raspalib")
    return pack_raspa_py([METHANE], [60], shape.pop("density", None), 200.0, force_field=FORCE_FIELD,
                         out_dir=str(out), **shape)


# name: (build(out), edges expected, density expected)
ROUTES = {
    "packmol-aspect": (lambda out: pack_packmol_py([WATER], [N_WATER], 1000.0, force_field=FORCE_FIELD,
                                                   out_dir=str(out), aspect=(1, 2, 3)),
                       np.cbrt(V_WATER / 6) * np.array([1, 2, 3]), 1000.0),
    "packmol-edges": (lambda out: pack_packmol_py([WATER], [N_WATER], None, force_field=FORCE_FIELD,
                                                  out_dir=str(out), box=(22, 19, 40)),
                      np.array([22, 19, 40]), N_WATER * WATER_MASS / AVOGADRO / (22 * 19 * 40e-24) * 1000.0),
    "packmol-sub-boxes": (lambda out: pack_sub_boxes_py([WATER], [4 * N_WATER], 1000.0, force_field=FORCE_FIELD,
                                                        out_dir=str(out), aspect=(1, 1, 4), grid=(2, 1, 4), jobs=2),
                          np.cbrt(4 * V_WATER / 4) * np.array([1, 1, 4]), 1000.0),
    "raspa-aspect": (lambda out: _raspa(out, density=200.0, aspect=(1, 1, 1.5)),
                     np.cbrt(volume(60 * 16.043, 200.0) / 1.5) * np.array([1, 1, 1.5]), 200.0),
    "raspa-edges": (lambda out: _raspa(out, box=(26, 24, 30)), np.array([26, 24, 30]),
                    60 * 16.043 / AVOGADRO / (26 * 24 * 30e-24) * 1000.0),
}


@pytest.mark.parametrize("route", list(ROUTES))
def test_a_rectangular_box_reads_back_with_its_edges_and_density(real_packmol, lmp, tmp_path, route):
    build, edges, density = ROUTES[route]
    summary = build(tmp_path)
    box = " × ".join(f"{e:.3f}" for e in edges)
    assert f"box: {box} Å  |" in summary
    if "edges" in route:
        assert f"density: {density:.1f} kg/m³, from the mass and the box" in summary
    lammps_edges, lammps_density = read_by_lammps(lmp, tmp_path)
    assert lammps_edges == pytest.approx(edges, abs=1e-5)
    assert lammps_density == pytest.approx(density, rel=1e-4)
    # A periodic fluid on every axis: atoms up to each face, no empty plane, and every two molecules at least
    # the tolerance apart across the faces (Packmol's route; RASPA3 has no tolerance).
    mol, pos, _, box_edges = atoms(tmp_path / "data.lmp")
    if route.startswith("packmol"):
        assert closest_other_molecule(mol, pos, box_edges) > 2.0 - 0.1
        for axis in range(3):
            column = pos[:, [axis, axis, axis]]
            assert thinnest_slab(column, box_edges[axis]) > 0.3, (axis, route)


def test_a_cube_is_the_same_files_however_it_is_asked_for(real_packmol, tmp_path):
    edge = np.cbrt(V_WATER)
    outs = {name: tmp_path / name for name in ("density", "aspect", "edges")}
    pack_packmol_py([WATER], [N_WATER], 1000.0, force_field=FORCE_FIELD, out_dir=str(outs["density"]))
    pack_packmol_py([WATER], [N_WATER], 1000.0, force_field=FORCE_FIELD, out_dir=str(outs["aspect"]),
                    aspect=(2.5, 2.5, 2.5))
    pack_packmol_py([WATER], [N_WATER], None, force_field=FORCE_FIELD, out_dir=str(outs["edges"]),
                    box=(edge, edge, edge))
    for name in ("aspect", "edges"):
        for file in ("data.lmp", "forcefield.lmp"):
            assert filecmp.cmp(outs["density"] / file, outs[name] / file, shallow=False), (name, file)


# --- Slabs and layers --------------------------------------------------------------------------------


def profile(z: np.ndarray, masses: np.ndarray, edges: np.ndarray, lo: float, hi: float) -> float:
    """Mass density, kg/m³, of the atoms whose z lies in [lo, hi)."""
    inside = (z >= lo) & (z < hi)
    return float(masses[inside].sum() / AVOGADRO / (edges[0] * edges[1] * (hi - lo) * 1e-24) * 1000.0)


def test_a_liquid_slab_has_the_liquid_density_in_its_middle_and_nothing_in_the_vacuum(real_packmol, lmp, tmp_path):
    summary = pack_packmol_py([WATER], [1000], 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path),
                              aspect=(1, 1, 1), vacuum=40.0)
    side = np.cbrt(volume(1000 * WATER_MASS, 1000.0))
    lo, hi = 20.0, 20.0 + side
    assert f"liquid slab along z: water {lo:.3f}-{hi:.3f} Å at 1000.0 kg/m³, vacuum 20.000 Å below and above" \
        in summary
    mol, pos, types, edges = atoms(tmp_path / "data.lmp")
    assert edges == pytest.approx([side, side, side + 40.0], abs=1e-5)
    z = pos[:, 2]
    assert z.min() > lo - 0.1 and z.max() < hi + 0.1  # the vacuum is empty
    masses = np.array([{"Ow": 15.9994, "Hw": 1.008}[t] for t in types])
    middle = profile(z, masses, edges, lo + side / 4, hi - side / 4)
    assert middle == pytest.approx(1000.0, rel=0.1)
    # Periodic across x and y: water up to those faces and the tolerance kept through them.
    assert thinnest_slab(pos[:, [0, 1, 0]], side) > 0.4
    assert closest_other_molecule(mol, pos, edges) > 2.0 - 0.1
    read_by_lammps(lmp, tmp_path)


def test_water_and_hexane_in_layers_each_at_its_density_and_apart(real_packmol, lmp, tmp_path):
    summary = pack.layered([pack.Layer([WATER], [600], 1000.0), pack.Layer([HEXANE], [120], 655.0)],
                           force_field=FORCE_FIELD, out_dir=tmp_path, aspect=(1, 1, 2))
    v_water, v_hexane = volume(600 * WATER_MASS, 1000.0), volume(120 * HEXANE_MASS, 655.0)
    side = np.cbrt((v_water + v_hexane) / 2)
    interface = v_water / side**2  # the water layer's thickness from its own density, not the hexane's
    assert f"layers along z: water 0.000-{interface:.3f} Å at 1000.0 kg/m³ | hexane {interface:.3f}-" in summary
    mol, pos, types, edges = atoms(tmp_path / "data.lmp")
    assert edges == pytest.approx([side, side, 2 * side], abs=1e-5)
    is_water = np.isin(types, ["Ow", "Hw"])
    z = pos[:, 2]
    # No molecule of one layer in the other, and the tolerance between them, through the periodic z face too.
    assert z[is_water].max() < interface + 0.1 and z[~is_water].min() > interface - 0.1
    assert closest_between(pos[is_water], pos[~is_water], edges) > 2.0 - 0.1
    masses = np.array([{"Ow": 15.9994, "Hw": 1.008, "CH3": 15.035, "CH2": 14.027}[t] for t in types])
    thickness = [interface, edges[2] - interface]
    for lo, size, density in ((0.0, thickness[0], 1000.0), (interface, thickness[1], 655.0)):
        assert profile(z, masses, edges, lo + size / 4, lo + 3 * size / 4) == pytest.approx(density, rel=0.12)
    read_by_lammps(lmp, tmp_path)


# --- Refusals ------------------------------------------------------------------------------------------

REFUSED = {
    "zero-edge": (dict(density=None, box=(20, 0, 20)), "box edges must be positive finite numbers of Å, got 20 0 20"),
    "nan-ratio": (dict(aspect=(1, math.nan, 2)), "aspect ratios must be positive finite numbers, got 1 NaN 2"),
    "negative-vacuum": (dict(vacuum=-1.0), "vacuum must be a finite number of Å, 0 or more, got -1"),
    "edges-and-density": (dict(box=(20, 20, 20)), "give the density or the box's edges, not both"),
    "edges-and-aspect": (dict(density=None, box=(20, 20, 20), aspect=(1, 1, 2)),
                         "give the box's edges or an aspect ratio, not both"),
    "no-room": (dict(density=None, box=(20, 20, 20), vacuum=20.0),
                "a vacuum of 20 Å leaves no room for the liquid in a box 20.000 Å tall along z"),
    "layers-miss-a-species": (dict(density=None, layers=[(1, 1000.0)]), "the layers hold 1 species in all, but 2"),
    "layer-density": (dict(density=None, layers=[(1, 1000.0), (1, -5.0)]), "layer 2: density must be positive"),
}


@pytest.mark.parametrize("case", list(REFUSED))
def test_a_box_that_cannot_be_built_is_refused_before_packing(tmp_path, monkeypatch, case):
    shape, message = REFUSED[case]
    monkeypatch.setenv("PATH", "")  # no Packmol is ever started
    args = dict(density=1000.0) | shape
    with pytest.raises(RuntimeError, match="^" + message):
        pack_packmol_py([WATER, METHANE], [10, 2], args.pop("density"), force_field=FORCE_FIELD,
                        out_dir=str(tmp_path / "out"), **args)
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize("shape, what", [(dict(vacuum=10.0), "a liquid slab"),
                                         (dict(layers=[(1, 1000.0)], density=None), "a layered box")])
def test_raspa3_leaves_slabs_and_layers_to_packmol(tmp_path, shape, what):
    args = dict(density=1000.0) | shape
    with pytest.raises(RuntimeError, match=f"^{what} is built by the Packmol route only"):
        pack_raspa_py([WATER], [10], args.pop("density"), force_field=FORCE_FIELD, out_dir=str(tmp_path / "o"),
                      **args)
    assert not (tmp_path / "o").exists()


def test_a_box_too_thin_for_the_preset_cut_off_is_named(real_packmol, tmp_path):
    summary = pack_packmol_py([WATER], [200], 1000.0, pack.PyPairSetup.LjCut, force_field=FORCE_FIELD,
                              out_dir=str(tmp_path), aspect=(3, 3, 1))
    assert "warning: the preset's cut-off of 10 Å is more than half the shortest box edge (" in summary


@pytest.mark.parametrize("shape", ["layers", "slab"])
def test_layers_and_a_slab_run_from_their_starter_input(real_packmol, lmp, tmp_path, shape):
    from cellkit.md_check import run_md

    if shape == "layers":  # NPT moves the z edge alone: the interfaces keep their area
        pack.layered([pack.Layer([WATER], [200], 1000.0), pack.Layer([HEXANE], [40], 655.0)], force_field=FORCE_FIELD,
                     out_dir=tmp_path, lammps_input=True, pressure=1.0)
        assert "npt temp ${T} ${T} 100.0 z ${P} ${P} 1000.0" in (tmp_path / "in.lammps").read_text()
    else:  # NVT: a barostat would close the vacuum, and is refused
        with pytest.raises(RuntimeError, match="closes the vacuum around a liquid slab"):
            pack.packmol([WATER], [200], 1000.0, force_field=FORCE_FIELD, out_dir=tmp_path / "npt", vacuum=20.0,
                         lammps_input=True, pressure=1.0)
        assert not (tmp_path / "npt").exists()
        pack.packmol([WATER], [200], 1000.0, force_field=FORCE_FIELD, out_dir=tmp_path, vacuum=20.0,
                     lammps_input=True)
    result = run_md(tmp_path, 200, lmp)
    assert result.problems() == [], str(result)
