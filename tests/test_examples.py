"""Each shipped example end to end: the cellkit command its in.lammps names, then that in.lammps in
LAMMPS for a few hundred steps."""

from __future__ import annotations

import math
import os
import re
import shlex
import shutil
import subprocess
import sys

import pytest

from helpers import EXAMPLES

# example -> length (Å) SHAKE must hold every bond at, or None for flexible bonds
RIGID_BOND = {"water_methane": 1.0, "co2": 1.149, "alkanes": None}


def build_command(in_lammps: str) -> list[str]:
    """The cellkit command in the comment at the top of in.lammps (continued with a backslash)."""
    comment = " ".join(line.lstrip("#").strip() for line in in_lammps.splitlines() if line.startswith("#"))
    command = re.search(r"(cellkit pack .*?) then:", comment.replace("\\ ", " "))
    assert command, "in.lammps names no cellkit command"
    return shlex.split(command[1])


def thermo_rows(log: str) -> list[dict[str, float]]:
    """The thermo rows of the last run in a LAMMPS output."""
    lines = log.splitlines()
    header = max(i for i, line in enumerate(lines) if line.split()[:1] == ["Step"])
    names = lines[header].split()
    rows = []
    for line in lines[header + 1:]:
        if line.startswith("Loop time"):
            break
        rows.append(dict(zip(names, map(float, line.split()))))
    return rows


@pytest.mark.parametrize("name", RIGID_BOND)
def test_example_packs_and_runs(name, tmp_path, lmp):
    work = tmp_path / name
    shutil.copytree(EXAMPLES / name, work)
    args = build_command((work / "in.lammps").read_text())
    built = subprocess.run([sys.executable, "-m", "cellkit", *args[1:], "--quiet"], cwd=work, capture_output=True,
                           text=True, timeout=300)
    assert built.returncode == 0, built.stderr

    run = subprocess.run([lmp, "-nocite", "-log", "none", "-var", "steps", "300", "-in", "in.lammps"], cwd=work,
                         env=dict(os.environ, OMP_NUM_THREADS="1"), capture_output=True, text=True, timeout=300)
    assert run.returncode == 0 and "ERROR" not in run.stdout, run.stdout[-3000:] + run.stderr
    rows = thermo_rows(run.stdout)
    assert rows[-1]["Step"] == 300
    temps = [row["Temp"] for row in rows]
    assert all(math.isfinite(t) and 0 < t < 1000 for t in temps), temps
    lengths = [(row["c_bond_min"], row["c_bond_max"]) for row in rows]
    if RIGID_BOND[name] is None:
        assert all(1.3 < lo <= hi < 1.8 for lo, hi in lengths), lengths
    else:
        assert all(abs(v - RIGID_BOND[name]) < 1e-4 for pair in lengths for v in pair), lengths
