"""The cellkit command driven as a user drives it (a subprocess), and the Python API behind it."""

import contextlib
import json
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


def command(*args: str) -> subprocess.CompletedProcess[str]:
    return subprocess.run([sys.executable, "-m", "cellkit", *args], env=UNACTIVATED, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=300)


def coords_build(tmp_path, force_field=FF, water=WATER) -> tuple[str, ...]:
    """The arguments of two waters from positions in an XYZ file: a build without Packmol into tmp_path/out."""
    (tmp_path / "two.xyz").write_text("6\ntwo waters\n" + "".join(f"X {x} {y} 1.0\n" for x, y in (
        (1, 1), (2, 1), (1.5, 1.9), (6, 1), (7, 1), (6.5, 1.9))))
    return ("pack", "coords", "--species", water, "--counts", "2", "--box-len", "20", "--force-field", force_field,
            "--out-dir", str(tmp_path / "out"), "--coords", str(tmp_path / "two.xyz"))


def test_packmol_build_pdb_and_check_from_an_unactivated_environment(tmp_path, lmp):
    out = tmp_path / "out"
    run = command("pack", "packmol", "--species", WATER, METHANE, "--counts", "200", "10", "--density", "1000",
                  "--force-field", FF, "--out-dir", str(out), "--pdb", str(out / "box.pdb"))
    edge = float(re.search(r"^box: (\S+) Å cube", run.stdout, re.M)[1])
    # The plan names the box the build then makes; the box is neutral, so no charge warning.
    assert f"packing 210 molecules (610 atoms) into a {edge:.3f} Å cube with Packmol" in run.stderr
    assert re.search(r"^took reading inputs .* Packmol and LAMMPS files .* PDB", run.stderr, re.M)
    assert "net charge" not in run.stderr and "elapsed" not in run.stderr  # no ticker off a terminal
    assert run.returncode == 0 and f"Wrote {out / 'box.pdb'} (610 atoms)" in run.stdout
    pdb = (out / "box.pdb").read_text().splitlines()
    assert pdb[0].startswith(f"CRYST1{edge:9.3f}{edge:9.3f}{edge:9.3f}  90.00  90.00  90.00 P 1")
    atoms = [line for line in pdb if line.startswith("HETATM")]
    residues = [("wat", 1 + i // 3) for i in range(600)] + [("met", 201 + i) for i in range(10)]
    assert [(a[17:20], int(a[22:26])) for a in atoms] == residues
    assert [line[12:16] for line in atoms[:3]] == [" Ow ", " Hw ", " Hw "]
    check = command("check", str(out))
    assert "LAMMPS read atoms: 610 (3 types)  bonds: 400 (1 types)  angles: 200 (1 types)" in check.stdout, check.stderr
    energies = dict(re.findall(r"^  (\S+)\s+(\S+)$", check.stdout, re.M))
    assert list(energies) == ["pair", "Coulomb", "long-range", "bond", "angle", "dihedral", "total"]
    assert check.returncode == 0 and all(np.isfinite([float(v) for v in energies.values()]))


@pytest.mark.parametrize("shape", [("--aspect", "1", "1", "2"), ("--box", "20", "22", "40"), ("--vacuum", "20"),
                                   ("--layer", "1000", WATER, "150", "--layer", "420", METHANE, "20", "--aspect", "1",
                                    "1", "2")], ids=["aspect", "box", "slab", "layers"])
def test_the_plan_names_the_box_the_build_makes(tmp_path, shape):
    species = () if "--layer" in shape else ("--species", WATER, "--counts", "150")
    density = () if "--layer" in shape or "--box" in shape else ("--density", "1000")
    run = command("pack", "packmol", *species, *density, *shape, "--force-field", FF, "--out-dir", str(tmp_path),
                  "--pdb", str(tmp_path / "box.pdb"))
    assert run.returncode == 0, run.stderr
    edges = re.search(r"^box: (\S+) × (\S+) × (\S+) Å", run.stdout, re.M).groups()
    assert f"into a {edges[0]} × {edges[1]} × {edges[2]} Å box with Packmol" in run.stderr
    assert (tmp_path / "box.pdb").read_text().startswith("CRYST1" + "".join(f"{float(e):9.3f}" for e in edges))


def test_usage_errors_exit_2_failures_exit_1_and_neither_writes(tmp_path, monkeypatch):
    ok, build = ("pack", "packmol", "--species", WATER, "--counts", "2", "--density", "1000"), coords_build(tmp_path)
    write_json(tmp_path / "bad.json", [[0, 0, 0], [1, 2]])
    monkeypatch.chdir(tmp_path)
    for code, args, fragment in [
            (2, (), "required"), (2, ok[:-2], "--density"), (2, ok[:-1] + ("dense",), "not a number"),
            (2, ok[:5] + ("-1", *ok[6:]), "negative"), (2, ok[:5] + ("two", *ok[6:]), "not a whole number"),
            (2, ok + ("--jobs", "0"), "jobs must be at least 1"), (2, ok + ("--pair-style", "lj"), "invalid choice"),
            (2, build[:6] + ("--coords", "x.xyz"), "--box-len"),
            (2, ("pack", "raspa", *ok[2:], "--init-cycles", "-1"), "negative"),
            (2, ok + ("--layer", "1000", WATER, "2"), "leave out --species, --counts and --density"),
            (2, ok[:2] + ("--layer", "1000", WATER), "--layer takes a density, then a molecule file and a count"),
            (2, ok[:2] + ("--layer", "x", WATER, "2"), "not a number"),
            (2, ok[:2] + ("--layer", "1000", WATER, "-2"), "negative"),
            (2, ("pack", "raspa", *ok[2:], "--vacuum", "10"), "only the Packmol route does"),
            (2, ok + ("--aspect", "1", "2"), "expected 3 arguments"),
            (2, ok[:2] + ("--layer", "1000", WATER, "2", "--box", "20", "20", "20"), "leave out --box"),
            (2, ok + ("--seed", "-1"), "a seed cannot be negative"),
            (1, ok + ("--pair-style", "none", "--lammps-input", *build[8:12]), "error: no in.lammps for a build"),
            (1, ok + ("--vacuum", "-1", *build[8:12]), "error: vacuum must be a finite number of Å, 0 or more"),
            (1, ok[:-1] + ("0", *build[8:12]), "error: density must be positive"),
            (1, build + ("--species", "nope.json"), "error: reading nope.json: "),
            (1, build + ("--coords", "bad.json"), "error: bad.json: entry 1 is not [x, y, z]: [1, 2]"),
            (1, build + ("--coords", "no.xyz"), "error: reading no.xyz: No such file or directory"),
            (1, ("compare", "out", "--species", WATER, "--counts", "2", "3"), "error: --species has 1 entries but "
                                                                            "--counts has 2 (they must match 1:1)"),
            (1, ("compare", "out", "--species", WATER, "--counts", "2"), "error: no data.lmp in out")]:
        run = command(*args)
        assert (run.returncode, run.stdout, "usage:" in run.stderr) == (code, "", code == 2), (args, run.stderr)
        assert fragment in run.stderr and "Traceback" not in run.stderr and not (tmp_path / "out").exists(), run.stderr
    assert command("--version").stdout == f"cellkit {cellkit.__version__}\n"


def test_a_real_raspa_build(tmp_path):
    pytest.importorskip("raspalib")
    run = command("pack", "raspa", "--species", WATER, METHANE, "--counts", "8", "12", "--density", "500", "--out-dir",
                  str(tmp_path), "--force-field", FF, *(f"--{c}-cycles=2" for c in ("init", "equil", "prod")))
    assert run.returncode == 0 and "atoms: 36 (3 types)" in run.stdout, run.stderr
    assert sorted(p.name for p in tmp_path.iterdir()) == ["data.lmp", "forcefield.lmp"]


def test_net_charge_warning_and_check_of_a_box_without_pair_style(tmp_path, lmp):
    ff = write_json(tmp_path / "ff.json", {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [
        ["Ow", 15.9994, -0.8476], ["Hw", 1.008, 0.5]], "SelfInteractions": [
        ["Ow", "lennard-jones", [78.2, 3.166]], ["Hw", "lennard-jones", [20.0, 1.0]]]})  # unlike sizes: mixing shows
    # Flexible water, so the bond and angle terms are not zero and each shows under its own name.
    water = json.loads(pathlib.Path(WATER).read_text()) | {
        "Type": "flexible", "Bonds": [[["Ow", "Hw"], "HARMONIC", [200000, 1.0]]],
        "Bends": [[["Hw", "Ow", "Hw"], "HARMONIC", [20000, 109.47]]]}
    run = command(*coords_build(tmp_path, ff, write_json(tmp_path / "water.json", water)), "--pair-style", "none")
    assert run.returncode == 0 and "warning: the box has a net charge of +0.304800 e" in run.stderr  # 2 × (1 - 0.8476)
    out, pair_style = tmp_path / "out", "pair_style lj/cut/coul/long 8.0"
    refused = command("check", str(out))
    assert refused.returncode == 1 and "leaves the pair style to you" in refused.stderr
    run = command("check", str(out), "--pair-style", pair_style)
    # Each term is the one LAMMPS reports under its own name, with the solver the check added.
    shown = {label: float(v) for label, v in re.findall(r"^  (\S+)\s+(\S+)$", run.stdout, re.M)}
    direct = run_lammps(lmp, out, lammps_script(f"{pair_style}\npair_modify mix arithmetic\nkspace_style pppm 1.0e-4",
                                                thermo="step evdwl ecoul elong ebond eangle edihed pe")).thermo
    assert run.returncode == 0 and list(shown.values()) == pytest.approx(list(direct.values())[1:], abs=1e-6)
    assert 0.0 not in (shown["Coulomb"], shown["long-range"], shown["bond"], shown["angle"])
    # LAMMPS's own refusal reaches the user.
    (out / "data.lmp").write_text((out / "data.lmp").read_text().replace("4 bonds", "5 bonds", 1))
    run = command("check", str(out), "--pair-style", pair_style)
    assert run.returncode == 1 and "error: LAMMPS refused the files" in run.stderr, run.stderr
    assert re.search(r"^ERROR", run.stderr, re.M), run.stderr


def test_terminal_ticker_and_ctrl_c(tmp_path):
    """A box Packmol needs many seconds for: the ticker runs on a terminal, Ctrl-C ends it all."""
    main, side = pty.openpty()
    proc = subprocess.Popen([sys.executable, "-m", "cellkit", "pack", "packmol", "--species", WATER, "--counts",
                             "20000", "--density", "1000", "--force-field", FF, "--out-dir", str(tmp_path)],
                            env=UNACTIVATED, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=side, text=True)
    os.close(side)
    seen, deadline = b"", time.monotonic() + 60
    while b"elapsed" not in seen and time.monotonic() < deadline and select.select([main], [], [], 60)[0]:
        seen += os.read(main, 4096)
    proc.send_signal(signal.SIGINT)
    assert proc.wait(timeout=10) == 130
    with contextlib.suppress(OSError):  # EIO once the terminal's other side is closed
        while select.select([main], [], [], 0.5)[0]:
            seen += os.read(main, 4096)
    os.close(main)
    assert b"elapsed" in seen and b"Traceback" not in seen and b"interrupted" in seen, seen
    assert not (tmp_path / "data.lmp").exists()


def test_python_api_takes_paths_arrays_and_names(tmp_path, monkeypatch):
    coords = np.array([[1.0, 1.0, 1.0], [2.0, 1.0, 1.0], [0.6667, 1.9428, 1.0]])
    summary = cellkit.pack.from_coords([EXAMPLES / "water.json"], [1], coords, 10, pair_style="lj-cut-coul-long",
                                       force_field=EXAMPLES / "force_field.json", out_dir=tmp_path)
    assert summary.startswith(f"Wrote {tmp_path / 'data.lmp'}\n")
    assert "pair_style lj/cut/coul/long" in (tmp_path / "forcefield.lmp").read_text()
    for bad, exc in [("lj", ValueError), (1, TypeError)]:
        with pytest.raises(exc, match="pair"):
            cellkit.pack.from_coords([WATER], [1], coords, 10, pair_style=bad)
    with pytest.raises(TypeError, match="single path"):
        cellkit.pack.packmol(WATER, [1], 1000.0)
    seen = []  # --jobs reaches the Packmol entry
    monkeypatch.setattr(cellkit._parallel, "pack_packmol",
                        lambda *args, jobs, lammps_input, **shape: seen.append(jobs) or "")
    for jobs in (None, 1, 3):
        cellkit.pack.packmol([WATER], [2], 1000.0, force_field=FF, jobs=jobs)
    assert seen == [None, 1, 3]


def test_the_pdb_names_elements_bonds_and_counts_on_in_hexadecimal(tmp_path):
    from cellkit.pdb import _number, element_of

    xyz = tmp_path / "three.xyz"
    xyz.write_text("7\n\nOw 1 1 1\nHw 2 1 1\nHw 0.666687 1.942816 1\n"
                   "CH3 5 5 5\nCH2 6.291552675 5.838744114 5\nCH2 7.583105349 5 5\nCH3 8.874658024 5.838744114 5\n")
    run = command("pack", "coords", "--species", WATER, str(EXAMPLES / "butane.json"), "--counts", "1", "1",
                  "--coords", str(xyz), "--box-len", "20", "--force-field", FF, "--out-dir", str(tmp_path / "out"),
                  "--pdb", str(tmp_path / "box.pdb"))
    assert run.returncode == 0, run.stderr
    lines = (tmp_path / "box.pdb").read_text().splitlines()
    atoms = [line for line in lines if line.startswith("HETATM")]
    # Residue per species, element in columns 77-78, as VMD and OVITO read them.
    assert [(a[17:20], a[76:78]) for a in atoms] == [("wat", " O"), ("wat", " H"), ("wat", " H")] + [("but", " C")] * 4
    # Bonds as CONECT records, each atom with all its partners.
    assert [line for line in lines if line.startswith("CONECT")] == [
        "CONECT    1    2    3", "CONECT    2    1", "CONECT    3    1", "CONECT    4    5", "CONECT    5    4    6",
        "CONECT    6    5    7", "CONECT    7    6"]
    # Decimal while it fits, then hexadecimal (VMD's and Packmol's way); elements from the name or the file.
    assert [_number(n, 5) for n in (99_999, 100_000, 1_048_575)] == ["99999", "186a0", "fffff"]
    assert [_number(n, 4) for n in (9_999, 10_000)] == ["9999", "2710"]
    assert [element_of(t) for t in ("Ow", "CH4", "Na", "Cl", "C_co2", "M")] == ["O", "C", "Na", "Cl", "C", ""]
    assert element_of("Ow", {"Ow": "O"}) == "O" and element_of("CH3", {"CH3": "C"}) == "C"


def test_a_pdb_that_fails_leaves_the_directory_as_it_was(tmp_path, monkeypatch, capsys):
    from cellkit import cli

    out = tmp_path / "out"
    out.mkdir()
    (out / "data.lmp").write_text("an earlier build\n")
    (tmp_path / "one.xyz").write_text("3\n\nOw 1 1 1\nHw 2 1 1\nHw 0.666687 1.942816 1\n")
    build = ("pack", "coords", "--species", WATER, "--counts", "1", "--box-len", "20", "--force-field", FF,
             "--out-dir", str(out), "--coords", str(tmp_path / "one.xyz"), "--lammps-input")
    monkeypatch.chdir(tmp_path)

    def fails(*args):
        raise OSError(28, "writing box.pdb: No space left on device")

    monkeypatch.setattr(cli, "write_pdb", fails)
    assert cli.main([*build, "--pdb", str(tmp_path / "box.pdb")]) == 1
    # The earlier data.lmp is back, the new forcefield.lmp and in.lammps are gone, and nothing was said to be written.
    assert sorted(p.name for p in out.iterdir()) == ["data.lmp"]
    assert (out / "data.lmp").read_text() == "an earlier build\n"
    said = capsys.readouterr()
    assert "No space left on device" in said.err and "Wrote" not in said.out
    assert cli.main([*build, "--out-dir", str(tmp_path / "new" / "deeper"), "--pdb", str(tmp_path / "box.pdb")]) == 1
    assert not (tmp_path / "new").exists()  # the directories it made are gone too
