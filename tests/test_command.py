"""The cellkit command driven as a user drives it (a subprocess), and the Python API behind it."""

from __future__ import annotations

import importlib.util
import math
import os
import pathlib
import pty
import re
import select
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import cellkit.pack
from helpers import EXAMPLES, lammps_script, run_lammps, write_json

FF, WATER, METHANE = (str(EXAMPLES / f"{n}.json") for n in ("force_field", "water", "methane"))
# The interpreter of the environment, with PATH not leading to it: an installed, unactivated venv.
UNACTIVATED = dict(os.environ, PATH="/usr/bin:/bin")


def command(*args: str, cwd: pathlib.Path | None = None) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "cellkit", *args], cwd=cwd, env=UNACTIVATED,
                          capture_output=True, text=True, stdin=subprocess.DEVNULL, timeout=300)


def coords_build(tmp_path, *extra, species=(WATER,), counts=("2",), force_field=FF):
    """Two waters from positions in an XYZ file: a build without Packmol."""
    xyz = tmp_path / "two.xyz"
    xyz.write_text("6\ntwo waters\n" + "".join(f"X {x} 1.0 1.0\n" for x in (1, 2, 1.5, 6, 7, 6.5)))
    return command("pack", "coords", "--species", *species, "--counts", *counts, "--coords", str(xyz),
                   "--box-len", "20", "--force-field", force_field, "--out-dir", str(tmp_path / "out"), *extra)


def test_packmol_build_pdb_and_check_from_an_unactivated_environment(tmp_path, lmp):
    out = tmp_path / "out"
    run = command("pack", "packmol", "--species", WATER, METHANE, "--counts", "200", "10", "--density", "1000",
                  "--force-field", FF, "--out-dir", str(out), "--pdb", str(out / "box.pdb"))
    assert run.returncode == 0, run.stderr
    edge = float(re.search(r"^box: (\S+) Å cube", run.stdout, re.M)[1])
    # The plan names the box the build then makes; the box is neutral, so no charge warning.
    assert f"packing 210 molecules (610 atoms) into a {edge:.3f} Å cube with Packmol" in run.stderr
    assert re.search(r"^took reading inputs .* Packmol and LAMMPS files .* PDB", run.stderr, re.M)
    assert "net charge" not in run.stderr and "elapsed" not in run.stderr  # no ticker off a terminal
    assert f"Wrote {out / 'box.pdb'} (610 atoms)" in run.stdout

    pdb = (out / "box.pdb").read_text().splitlines()
    assert pdb[0].startswith(f"CRYST1{edge:9.3f}{edge:9.3f}{edge:9.3f}  90.00  90.00  90.00 P 1")
    atoms = [line for line in pdb if line.startswith("HETATM")]
    residues = [(line[17:20], int(line[22:26])) for line in atoms]
    assert residues == [("wat", 1 + i // 3) for i in range(600)] + [("met", 201 + i) for i in range(10)]
    assert [line[12:16] for line in atoms[:3]] == [" Ow ", " Hw ", " Hw "]

    check = command("check", str(out))
    assert check.returncode == 0, check.stderr
    assert "LAMMPS read atoms: 610 (3 types)  bonds: 400 (1 types)  angles: 200 (1 types)" in check.stdout
    energies = dict(re.findall(r"^  (\S+)\s+(\S+)$", check.stdout, re.M))
    assert list(energies) == ["pair", "Coulomb", "long-range", "bond", "angle", "dihedral", "total"]
    assert all(math.isfinite(float(v)) for v in energies.values())


def test_usage_errors_exit_2(tmp_path):
    base = ["pack", "packmol", "--species", WATER, "--counts", "2"]
    cases = {
        (): "required",
        (*base,): "--density",
        (*base[:-1], "-1", "--density", "1000"): "cannot be negative",
        (*base[:-1], "two", "--density", "1000"): "not a whole number",
        (*base, "--density", "dense"): "not a number",
        (*base, "--density", "1000", "--pair-style", "lj"): "invalid choice",
        (*base, "--density", "1000", "--jobs", "0"): "jobs must be at least 1",
        ("pack", "coords", "--species", WATER, "--counts", "2", "--coords", "x.xyz"): "--box-len",
        ("pack", "raspa", "--species", WATER, "--counts", "2", "--density", "1", "--init-cycles", "-1"): "negative",
    }
    for args, fragment in cases.items():
        run = command(*args)
        assert (run.returncode, run.stdout) == (2, ""), args
        assert "usage:" in run.stderr and fragment in run.stderr, (args, run.stderr)
    assert command("--version").stdout == f"cellkit {cellkit.__version__}\n"


def test_jobs_reach_the_packmol_entry(monkeypatch):
    seen = []
    monkeypatch.setattr(cellkit._parallel, "pack_packmol", lambda *args, jobs: seen.append(jobs) or "")
    for jobs in (None, 1, 3):
        cellkit.pack.packmol([WATER], [2], 1000.0, force_field=FF, jobs=jobs)
    assert seen == [None, 1, 3]


@pytest.mark.parametrize("make_args, message", [
    (lambda t: ("--species", str(t / "nope.json")), "error: reading {t}/nope.json: "),
    (lambda t: ("--counts", "0"), "error: all species have count 0; nothing to build"),
    (lambda t: ("--coords", write_json(t / "bad.json", [[0, 0, 0], [1, 2]])), "bad.json: entry 1 is not [x, y, z]"),
    (lambda t: ("--coords", str(t / "no.xyz")), "error: reading {t}/no.xyz: No such file or directory"),
    (lambda t: ("--box-len", "1", "--pair-style", "tip4p", "--out-dir", str(t / "f" / "out")), "error: creating"),
])
def test_failures_say_why_exit_1_and_write_nothing(tmp_path, make_args, message):
    (tmp_path / "f").write_text("a file where a directory is needed")
    run = coords_build(tmp_path, *make_args(tmp_path))
    assert run.returncode == 1 and run.stdout == ""
    assert message.format(t=tmp_path) in run.stderr and "Traceback" not in run.stderr, run.stderr
    assert not (tmp_path / "out").exists()


def test_a_refused_packmol_build_and_a_real_raspa_build(tmp_path):
    run = command("pack", "packmol", "--species", WATER, "--counts", "2", "--density", "0", "--force-field", FF,
                  "--out-dir", str(tmp_path))
    assert (run.returncode, run.stderr.splitlines()[-1]) == (1, "error: density must be positive")
    if importlib.util.find_spec("raspalib") is None:
        pytest.skip("raspalib is not installed")
    run = command("pack", "raspa", "--species", WATER, METHANE, "--counts", "8", "12", "--density", "500",
                  "--force-field", FF, "--out-dir", str(tmp_path), "--init-cycles", "2", "--equil-cycles", "2",
                  "--prod-cycles", "2")
    assert run.returncode == 0 and "atoms: 36 (3 types)" in run.stdout, run.stderr
    assert (tmp_path / "data.lmp").exists() and (tmp_path / "forcefield.lmp").exists()


def test_net_charge_warning_and_check_of_a_box_without_pair_style(tmp_path, lmp):
    ff = write_json(tmp_path / "ff.json", {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [
        ["Ow", 15.9994, -0.8476], ["Hw", 1.008, 0.5]], "SelfInteractions": [["Ow", "lennard-jones", [78.2, 3.166]]]})
    run = coords_build(tmp_path, "--pair-style", "none", force_field=ff)
    assert run.returncode == 0, run.stderr
    assert "warning: the box has a net charge of +0.304800 e" in run.stderr  # 2 × (0.5 + 0.5 - 0.8476)

    out = str(tmp_path / "out")
    refused = command("check", out)
    assert refused.returncode == 1 and "leaves the pair style to you" in refused.stderr
    run = command("check", out, "--pair-style", "pair_style lj/cut/coul/long 8.0")
    assert run.returncode == 0, run.stderr
    # Each term is the one LAMMPS reports under its own name, with the solver the check added.
    shown = {label: float(v) for label, v in re.findall(r"^  (\S+)\s+(\S+)$", run.stdout, re.M)}
    direct = run_lammps(lmp, tmp_path / "out", lammps_script(
        "pair_style lj/cut/coul/long 8.0\npair_modify mix arithmetic\nkspace_style pppm 1.0e-4",
        thermo="step evdwl ecoul elong ebond eangle edihed pe")).thermo
    columns = ["E_vdwl", "E_coul", "E_long", "E_bond", "E_angle", "E_dihed", "PotEng"]
    assert list(shown.values()) == pytest.approx([direct[c] for c in columns], abs=1e-6)
    assert 0.0 not in (shown["Coulomb"], shown["long-range"], shown["bond"], shown["angle"])


@pytest.mark.parametrize("old, new", [("bond_style harmonic", "bond_style nonsense"),
                                      ("4 bonds", "5 bonds")])
def test_check_shows_lammps_refusal(tmp_path, lmp, old, new):
    assert coords_build(tmp_path).returncode == 0
    for name in ("data.lmp", "forcefield.lmp"):
        path = tmp_path / "out" / name
        path.write_text(path.read_text().replace(old, new, 1))
    run = command("check", str(tmp_path / "out"))
    assert run.returncode == 1
    assert "error: LAMMPS refused the files" in run.stderr and re.search(r"^ERROR", run.stderr, re.M), run.stderr


def test_terminal_ticker_and_ctrl_c(tmp_path):
    """A box Packmol needs many seconds for: the ticker runs on a terminal, Ctrl-C ends it all."""
    main, side = pty.openpty()
    proc = subprocess.Popen([sys.executable, "-m", "cellkit", "pack", "packmol", "--species", WATER,
                             "--counts", "20000", "--density", "1000", "--force-field", FF,
                             "--out-dir", str(tmp_path)], env=UNACTIVATED, stdin=subprocess.DEVNULL,
                            stdout=subprocess.PIPE, stderr=side, text=True)
    os.close(side)
    seen, deadline = b"", time.monotonic() + 60
    while b"elapsed" not in seen and time.monotonic() < deadline and select.select([main], [], [], 60)[0]:
        seen += os.read(main, 4096)
    proc.send_signal(signal.SIGINT)
    assert proc.wait(timeout=10) == 130
    while select.select([main], [], [], 0.5)[0]:
        try:
            seen += os.read(main, 4096)
        except OSError:
            break
    os.close(main)
    text = seen.decode()
    assert "elapsed" in text and "Traceback" not in text and "interrupted" in text, text
    assert not (tmp_path / "data.lmp").exists()


def test_python_api_takes_paths_arrays_and_names(tmp_path):
    coords = np.array([[1.0, 1.0, 1.0], [2.0, 1.0, 1.0], [0.6667, 1.9428, 1.0]])
    summary = cellkit.pack.from_coords([pathlib.Path(WATER)], [1], coords, 10, pair_style="lj-cut-coul-long",
                                       force_field=pathlib.Path(FF), out_dir=tmp_path)
    assert summary.startswith(f"Wrote {tmp_path / 'data.lmp'}\n")
    assert "pair_style lj/cut/coul/long" in (tmp_path / "forcefield.lmp").read_text()
    for bad, exc in [("lj", ValueError), (1, TypeError)]:
        with pytest.raises(exc, match="pair"):
            cellkit.pack.from_coords([WATER], [1], coords, 10, pair_style=bad)
    with pytest.raises(TypeError, match="single path"):
        cellkit.pack.packmol(WATER, [1], 1000.0)
