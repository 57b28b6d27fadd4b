"""in.lammps runs the box it was written for: LAMMPS takes it from the packed box to a stable run at the
temperature asked, rigid molecules keep their shape, and the shipped examples carry exactly what is generated."""

from __future__ import annotations

import itertools
import json
import pathlib
import re
import shlex
import subprocess

import numpy as np
import pytest

import cellkit.pack
from cellkit import cli
from helpers import EXAMPLES, raspa3_examples_dir, template, write_json

ROOT = EXAMPLES.parent


def merged_force_field(tmp_path: pathlib.Path, *files: pathlib.Path) -> str:
    doc = json.loads(files[0].read_text())
    for f in files[1:]:
        for key, value in json.loads(f.read_text()).items():
            if isinstance(value, list):
                doc[key] = doc.get(key, []) + value
    return write_json(tmp_path / "force_field.json", doc)


def water_and_rigid_co2(tmp_path: pathlib.Path) -> tuple[list[str], str]:
    """SPC/E water (SHAKE) with EPM2 carbon dioxide made wholly rigid (one rigid body per molecule)."""
    co2 = json.loads((EXAMPLES / "co2" / "co2.json").read_text())
    del co2["Bends"]
    species = [str(EXAMPLES / "water_methane" / "water.json"), write_json(tmp_path / "co2.json", co2)]
    return species, merged_force_field(tmp_path, EXAMPLES / "water_methane" / "force_field.json",
                                       EXAMPLES / "co2" / "force_field.json")


# name: (folder or None for a box of this test's own, molecule files, counts, density kg/m³)
SYSTEMS = {
    "water+methane": (EXAMPLES / "water_methane", ["water.json", "methane.json"], [150, 10], 1000.0),
    "EPM2 CO2": (EXAMPLES / "co2", ["co2.json"], [100], 700.0),
    "pentane+hexane": (EXAMPLES / "alkanes", ["pentane.json", "hexane.json"], [30, 20], 640.0),
    "water+rigid CO2": (None, [], [150, 40], 1000.0),
    "RASPA3 methane": ("methane_ua", ["methane.json"], [150], 300.0),
    "RASPA3 rigid CO2": ("co2_rigid", ["CO2.json"], [150], 700.0),
    "RASPA3 SPC/E": ("water_spce_3site", ["water.json"], [150], 1000.0),
    "RASPA3 alkanes": ("alkanes_trappe_flexible", ["butane.json", "pentane.json", "hexane.json"], [20, 20, 20], 600.0),
    "RASPA3 FIXED bonds": ("propane_butane_fixed_bonds", ["propane.json", "butane.json"], [40, 40], 550.0),
}


def build(tmp_path: pathlib.Path, name: str, **starter) -> tuple[list[str], list[int], str]:
    folder, files, counts, density = SYSTEMS[name]
    if folder is None:
        species, force_field = water_and_rigid_co2(tmp_path)
    else:
        folder = folder if isinstance(folder, pathlib.Path) else raspa3_examples_dir() / folder
        species, force_field = [str(folder / f) for f in files], str(folder / "force_field.json")
    out = tmp_path / "out"
    summary = cellkit.pack.packmol(species, counts, density, force_field=force_field, out_dir=out, jobs=1,
                                   lammps_input=True, **starter)
    assert f"Wrote {out}/in.lammps" in summary
    return species, counts, summary


def run(lmp: str, out: pathlib.Path, steps: int) -> list[dict[str, float]]:
    """Runs in.lammps with a thermo line every 10 steps; the thermo rows of the last run (after the easing in)."""
    proc = subprocess.run([lmp, "-nocite", "-log", "none", "-var", "steps", str(steps), "-var", "thermo_every", "10",
                           "-var", "dump_every", str(steps), "-in", "in.lammps"], cwd=out, stdin=subprocess.DEVNULL,
                          capture_output=True, text=True)
    text = proc.stdout + proc.stderr
    assert proc.returncode == 0 and "ERROR" not in text, text[-3000:]
    assert "WARNING" not in text, [line for line in text.splitlines() if "WARNING" in line]
    lines = text.splitlines()
    header = [i for i, line in enumerate(lines) if line.split()[:1] == ["Step"]][-1]
    keys = lines[header].split()
    rows = list(itertools.takewhile(lambda l: l.split()[:1] and l.split()[0].isdigit(), lines[header + 1:]))
    return [dict(zip(keys, map(float, row.split()))) for row in rows]


def final_positions(out: pathlib.Path) -> np.ndarray:
    """Unwrapped positions by atom ID from LAMMPS's own final.data."""
    text = (out / "final.data").read_text()
    lo_hi = [list(map(float, m.groups())) for m in re.finditer(r"^(\S+) (\S+) [xyz]lo [xyz]hi", text, re.M)]
    edge = np.array([hi - lo for lo, hi in lo_hi])
    block = text.split("Atoms # full")[1].split("Velocities")[0]
    rows = np.array([line.split() for line in block.strip().splitlines()], float)
    rows = rows[np.argsort(rows[:, 0])]
    return rows[:, 4:7] + rows[:, 7:10] * edge


def rigid_shape_error(species: list[str], counts: list[int], x: np.ndarray) -> float:
    """The largest change of a distance within a molecule of a species LAMMPS holds wholly rigid, against
    the molecule file's template."""
    worst, start = 0.0, 0
    for path, count in zip(species, counts):
        doc, t = json.loads(pathlib.Path(path).read_text()), template(path)
        n = len(t)
        whole_rigid = doc.get("Type", "rigid").lower() == "rigid" and not doc.get("Bonds") and not doc.get("Bends")
        if whole_rigid and n > 1:
            want = np.linalg.norm(t[:, None] - t[None], axis=2)
            for m in range(count):
                atoms = x[start + m * n:start + (m + 1) * n]
                worst = max(worst, np.abs(np.linalg.norm(atoms[:, None] - atoms[None], axis=2) - want).max())
        start += n * count
    return worst


@pytest.mark.parametrize("name", SYSTEMS)
def test_the_starter_runs_every_system_from_its_packed_box(real_packmol, lmp, tmp_path, name):
    species, counts, _ = build(tmp_path, name)
    rows = run(lmp, tmp_path / "out", 300)
    temps = [r["Temp"] for r in rows]
    # No burst of heat from the packed box's close contacts, and the thermostat holds the temperature asked.
    assert max(temps) < 2 * 300, temps
    assert abs(np.mean(temps[len(temps) // 2:]) - 300) < 0.2 * 300, temps
    # Wholly rigid molecules keep their template's shape (SHAKE's tolerance, data.lmp's 7 digits).
    assert rigid_shape_error(species, counts, final_positions(tmp_path / "out")) < 1e-4


def test_npt_holds_the_pressure_with_shake_and_rigid_bodies_in_one_box(real_packmol, lmp, tmp_path):
    build(tmp_path, "water+rigid CO2", pressure=1.0)
    text = (tmp_path / "out" / "in.lammps").read_text()
    assert f"variable        P index {1 / 1.01325!r}  # atm (1 bar)" in text  # LAMMPS's real units: atm
    rows = run(lmp, tmp_path / "out", 300)
    assert 0.85 < rows[-1]["Density"] < 1.2, rows[-1]  # a liquid, neither blown up nor collapsed


def test_shipped_examples_carry_the_generated_starter(real_packmol, tmp_path):
    """Each example's in.lammps is its first line, the command that builds the example, then exactly what
    that command writes."""
    for folder in ("water_methane", "co2", "alkanes"):
        first, rest = (EXAMPLES / folder / "in.lammps").read_text().split("\n", 1)
        assert first.startswith("# Made by: cellkit pack ") and "--lammps-input" in first, first
        argv = shlex.split(first.removeprefix("# Made by: "))[1:] + ["--out-dir", str(tmp_path / folder), "-q"]
        with pytest.MonkeyPatch.context() as mp:
            mp.chdir(EXAMPLES / folder)
            assert cli.main(argv) == 0
        assert rest == (tmp_path / folder / "in.lammps").read_text()


def test_refused_where_it_could_not_run(tmp_path):
    water = str(EXAMPLES / "water_methane" / "water.json")
    ff = str(EXAMPLES / "water_methane" / "force_field.json")
    with pytest.raises(RuntimeError, match=r"^no in\.lammps for a build whose pair style is left to you"):
        cellkit.pack.from_coords([water], [1], template(water), 20.0, pair_style="none", force_field=ff,
                                 out_dir=tmp_path / "none", lammps_input=True)
    assert not any((tmp_path / "none").glob("*"))
    with pytest.raises(ValueError, match="pass lammps_input=True"):
        cellkit.pack.from_coords([water], [1], template(water), 20.0, force_field=ff, out_dir=tmp_path, pressure=1.0)
    for option in (["--temperature", "350"], ["--pressure", "1"]):  # in.lammps's settings without in.lammps
        with pytest.raises(SystemExit) as exit_:
            cli.main(["pack", "coords", "--species", water, "--counts", "1", "--coords", "x.xyz", "--box-len", "20",
                      *option])
        assert exit_.value.code == 2


def test_check_md_reports_a_stable_run_and_flags_a_broken_one(real_packmol, lmp, tmp_path, capsys):
    build(tmp_path, "water+methane")
    out = tmp_path / "out"
    assert cli.main(["check", str(out), "--md", "100"]) == 0
    report = capsys.readouterr().out
    assert "MD of in.lammps: 100 steps after its easing in, no atoms lost" in report
    assert re.search(r"constraints: 450 held distances moved at most \d\.\de-(0[5-9]|1\d) Å", report), report
    # Without SHAKE in the run the placeholder bonds vibrate: the check says so and fails.
    script = (out / "in.lammps").read_text()
    at = script.index("# 3. The run")
    (out / "in.lammps").write_text(script[:at] + re.sub(r"^fix\s+constrain .*\n", "", script[at:], flags=re.M))
    assert cli.main(["check", str(out), "--md", "100"]) == 1
    assert "problem: a distance the constraints hold moved by" in capsys.readouterr().out


def test_a_rebuild_without_the_starter_says_when_the_old_one_no_longer_fits(tmp_path):
    water = str(EXAMPLES / "water_methane" / "water.json")
    ff = str(EXAMPLES / "water_methane" / "force_field.json")
    one, two = template(water), np.vstack([template(water), template(water) + 5.0])

    def build_here(coords, n, **starter):
        return cellkit.pack.from_coords([water], [n], coords, 20.0, force_field=ff, out_dir=tmp_path, **starter)

    stale = "in.lammps was written by cellkit for another build and does not fit the new files"
    build_here(two, 2, lammps_input=True, temperature=350.0, pressure=5.0)
    assert stale not in build_here(two + 1.0, 2)  # new positions, same system and settings
    assert stale in build_here(one, 1)  # one molecule: its groups would be wrong
    (tmp_path / "in.lammps").write_text("# my own input\n")
    assert stale not in build_here(one, 1)  # not ours: left alone
