"""Each shipped example end to end: the cellkit command its in.lammps names, then that in.lammps in
LAMMPS for a few hundred steps."""

import math
import re
import shlex
import shutil
import subprocess
import sys

import pytest

from helpers import EXAMPLES, lammps_verdict


# rigid_bond: the length (Å) SHAKE must hold every bond at, or None for flexible bonds
@pytest.mark.parametrize("name, rigid_bond", [("water_methane", 1.0), ("co2", 1.149), ("alkanes", None)])
def test_example_packs_and_runs(name, rigid_bond, tmp_path, lmp):
    work = shutil.copytree(EXAMPLES / name, tmp_path / name)
    # The command in the comment at the top of in.lammps, continued with a backslash.
    command = re.search(r"cellkit (pack .*?) then:", re.sub(r"\s*\\?\n#\s*", " ", (work / "in.lammps").read_text()))
    built = subprocess.run([sys.executable, "-m", "cellkit", *shlex.split(command[1]), "--quiet"], cwd=work,
                           capture_output=True, text=True, timeout=300)
    assert built.returncode == 0, built.stderr
    accepted, out = lammps_verdict(lmp, work, "variable steps index 300\ninclude in.lammps\n")  # as -var steps 300
    assert accepted, out[-3000:]
    head, block = re.findall(r"^(\s*Step .*)\n((?:.*\n)*?)Loop time", out, re.M)[-1]  # the last run's thermo rows
    rows = [dict(zip(head.split(), map(float, line.split()))) for line in block.splitlines()]
    assert rows[-1]["Step"] == 300
    assert all(math.isfinite(row["Temp"]) and 0 < row["Temp"] < 1000 for row in rows), rows
    lengths = [(row["c_bond_min"], row["c_bond_max"]) for row in rows]
    if rigid_bond is None:
        assert all(1.3 < lo <= hi < 1.8 for lo, hi in lengths), lengths
    else:
        assert all(abs(v - rigid_bond) < 1e-4 for pair in lengths for v in pair), lengths
