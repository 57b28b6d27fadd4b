"""The Packmol route: the real packmol on small boxes, scripted stand-ins for what it cannot be made to do."""

from __future__ import annotations

import math
import os
import pathlib
import re
import shutil

import numpy as np
import pytest

from cellkit._native import _pack_packmol_sub_boxes_py as pack_sub_boxes_py, pack_packmol_py
from cellkit._parallel import pack_packmol
from helpers import EXAMPLES, ends, lammps_script, process_gone, run_lammps, template, thinnest_slab

pytestmark = pytest.mark.usefixtures("tmpdir_env")

FORCE_FIELD = str(EXAMPLES / "force_field.json")
WATER, METHANE, BUTANE = (str(EXAMPLES / f"{n}.json") for n in ("water", "methane", "butane"))


@pytest.fixture
def stand_in(tmp_path, monkeypatch):
    """Puts a shell script called packmol first on PATH (alone on it if asked); it runs in Packmol's folder."""

    def install(body: str, mode: int = 0o755, alone: bool = False) -> None:
        (script := tmp_path / "bin" / "packmol").parent.mkdir(exist_ok=True)
        script.write_text("#!/bin/sh\n" + body + "\n")
        script.chmod(mode)
        monkeypatch.setenv("PATH", str(script.parent) + ("" if alone else os.pathsep + os.environ["PATH"]))

    return install


def record(n: int) -> str:
    return f"HETATM{n:5d} O    WAT A   1       1.000   2.000   3.000  1.00  0.00"


def writes_output(lines: list[str]) -> str:  # a stand-in body
    return "cat > simbox.pdb <<'PDB'\n" + "\n".join(lines) + "\nPDB"


SIX_ATOMS = [record(i + 1) for i in range(6)]  # two waters


def build(out_dir, species=(WATER,), counts=(2,), density=1000.0, entry=pack_packmol_py, **kwargs):
    return entry(list(species), list(counts), density, force_field=FORCE_FIELD, out_dir=str(out_dir), **kwargs)


def atoms_of(data_lmp: pathlib.Path) -> tuple[np.ndarray, np.ndarray, list[str], float]:
    """Molecule ids, positions, type names and box edge from the Atoms section of data.lmp."""
    lines = data_lmp.read_text().splitlines()
    edge = float(next(line for line in lines if line.endswith("xlo xhi")).split()[1])
    rows = [line.split() for line in lines[lines.index("Atoms") + 2:] if line.strip()]
    rows = rows[: next((i for i, r in enumerate(rows) if not r[0].isdigit()), len(rows))]
    return np.array([int(r[1]) for r in rows]), np.array([[float(v) for v in r[4:7]] for r in rows]), \
        [r[8] for r in rows], edge


# --- The real Packmol --------------------------------------------------------------------------


@pytest.mark.parametrize("entry, split", [(pack_packmol_py, {}), (pack_sub_boxes_py, {"grid": (2, 2, 2), "jobs": 2})],
                         ids=["single-run", "sub-boxes"])
def test_a_mixture_packs_a_periodic_fluid_in_canonical_order_and_runs_in_lammps(real_packmol, lmp, tmp_path, entry,
                                                                                split):
    lines = build(tmp_path, [WATER, METHANE], [240, 60], entry=entry, **split).splitlines()
    edge = ((240 * (15.9994 + 2 * 1.008) + 60 * 16.043) / 6.02214076e23 * 1e24) ** (1 / 3)  # the single run's
    assert lines[2] == (f"box: {edge:.3f} Å cube  |  atoms: 780 (3 types)  bonds: 480 (1 types)  "
                        "angles: 240 (1 types)  dihedrals: 0 (0 types)")
    assert lines[3] == "seed: 1234567"
    assert len(lines) == 7  # two placeholder warnings and the LjCut preset's charge warning, no note from Packmol
    mol, pos, types, box = atoms_of(tmp_path / "data.lmp")
    assert box == pytest.approx(edge, abs=1e-6)
    # Species in order, molecule copies in turn, atoms in file order.
    assert types == ["Ow", "Hw", "Hw"] * 240 + ["CH4"] * 60
    assert mol.tolist() == [1 + i // 3 for i in range(720)] + list(range(241, 301))
    # Each water keeps its template geometry (both O-H bonds, H-H), to the 3 decimals Packmol writes.
    water, w, pairs = template(WATER), pos[:720].reshape(240, 3, 3), [(1, 0), (2, 0), (2, 1)]
    got = np.stack([np.linalg.norm(w[:, i] - w[:, j], axis=1) for i, j in pairs], axis=1)
    assert np.abs(got - [np.linalg.norm(water[i] - water[j]) for i, j in pairs]).max() < 2e-3
    # A periodic fluid: atoms up to the faces, no thin slab along any axis (a uniform box of this edge has 26 % of
    # its atoms within 1 Å of a face, the thinnest of its 1-Å slabs about 0.7 of the mean by chance), and the
    # tolerance between molecules across the faces too, by the nearest image (Packmol stops once violations are
    # under 0.1).
    assert pos.min() > -0.1 and pos.max() < box + 0.1
    assert np.mean(((pos % box < 1) | (pos % box > box - 1)).any(axis=1)) > 0.15
    assert thinnest_slab(pos, box) > 0.5
    delta = pos[:, None] - pos[None]
    delta -= box * np.round(delta / box)
    assert np.linalg.norm(delta, axis=2)[mol[:, None] != mol[None]].min() > 2.0 - 0.1
    run = run_lammps(lmp, tmp_path, lammps_script())
    assert run.counts == {"atoms": 780, "bonds": 480, "angles": 240} and run.warnings == []
    assert all(math.isfinite(v) for v in run.thermo.values()), run.thermo


@pytest.mark.parametrize("extra, out, header, tolerance", [
    ((), ".", "Some(LjCut)  |  Explicit LB: false", "2.00"),  # the defaults
    ((None, True, "force_field.json", "out dir", 1.5), "out dir", "None  |  Explicit LB: true", "1.50"),
], ids=["defaults", "positional"])
def test_calls_and_the_script_packmol_reads(real_packmol, stand_in, tmp_path, monkeypatch, extra, out, header,
                                            tolerance):
    # Records what Packmol is given, then hands over to it: Packmol rewinds its standard input, so it gets
    # the recorded copy, a file, rather than a pipe. Blanks in names and in the temporary location are kept.
    rec, tmp = tmp_path / "rec", tmp_path / "temp with space"
    rec.mkdir(), tmp.mkdir()
    monkeypatch.setenv("TMPDIR", str(tmp))
    stand_in(f'pwd > "{rec}/cwd"; ls > "{rec}/files"; cat > "{rec}/script"; exec "{real_packmol}" < "{rec}/script"')
    monkeypatch.chdir(tmp_path)
    for source, name in ((FORCE_FIELD, "force_field.json"), (WATER, "water.json"), (METHANE, "my methane.json")):
        shutil.copy(source, name)

    summary = pack_packmol_py(["water.json", BUTANE, "my methane.json"], [3, 0, 2], 100.0, *extra)

    assert summary.startswith(f"Wrote {out}/data.lmp\nWrote {out}/forcefield.lmp\n")
    assert "skipped (count 0): butane\n" in summary and "warning: packmol" not in summary
    assert f"# Pair setup : {header}\n" in (tmp_path / out / "forcefield.lmp").read_text()
    assert atoms_of(tmp_path / out / "data.lmp")[2] == ["Ow", "Hw", "Hw"] * 3 + ["CH4"] * 2
    script = (rec / "script").read_text()
    assert script.startswith(f"# created by boxloom\ntolerance {tolerance}\nfiletype pdb\noutput simbox.pdb\n")
    assert re.findall(r"^structure (.*)\n  number (\d+)$", script, re.M) == [
        ("species_0_water.pdb", "3"), ("species_1.pdb", "2")]  # numbered among the species packed
    assert re.findall(r"^  restart_from (.*)$", script, re.M) == ["species_0.start", "species_1.start"]
    assert (rec / "files").read_text().split() == ["pack.inp", "species_0.start", "species_0_water.pdb",
                                                   "species_1.pdb", "species_1.start"]
    assert pathlib.Path((rec / "cwd").read_text().strip()).parent == tmp
    assert list(tmp.iterdir()) == []


# --- Faults: in the inputs, found before Packmol starts, and what only a stand-in can show ---------

SIMBOX = r"{tmp}/cellkit-\w{{6}}/simbox\.pdb"

# Faults of the output (no file, an unreadable one) and the atom count; the empty-output and malformed-line
# faults are shown through sub-boxes below, density and count faults where they are made.
FAULTS = {  # id: (stand-in body, call arguments, message pattern)
    "loading-first": ("exit 0", {"species": ["missing.json"], "density": 0.0},
                      r"reading missing.json: No such file or directory"),
    "not-executable": ("exit 0", {}, r"failed to launch packmol \(is it installed and on PATH\?\): Permission denied"),
    "no-output-failed": ("echo trying; echo giving up >&2; exit 3", {},
                         rf"packmol did not produce the expected output file {SIMBOX} "
                         r"\(packmol exited with status 3: trying; giving up\)"),
    "a-directory": ("mkdir simbox.pdb", {}, rf"reading packmol output {SIMBOX}: Is a directory"),
    "too-few-atoms": (writes_output(SIX_ATOMS[:5]), {}, r"packmol output has 5 atoms, expected 6"),
    "too-many-atoms": (writes_output(SIX_ATOMS + ["TER", record(7)]), {}, r"packmol output has 7 atoms, expected 6"),
    "old-packmol": ("echo '  Version 20.14.3 '; " + writes_output(SIX_ATOMS), {},
                    r"packmol 20\.14 on PATH cannot pack a periodic box \(Packmol has had pbc since 20\.15\), and a "
                    r"box packed with a margin at its faces is a fluid with vacuum between its periodic images: put a "
                    r"newer Packmol first on PATH, e\.g\. pip install packmol"),
}


@pytest.mark.parametrize("body, args, pattern", FAULTS.values(), ids=FAULTS.keys())
def test_faults_leave_no_output_and_no_temporary_directory(stand_in, tmp_path, tmpdir_env, body, args, pattern):
    # Alone on PATH when not executable: the search would skip it for a packmol further on.
    stand_in(body, **({"mode": 0o644, "alone": True} if pattern.endswith("denied") else {}))
    with pytest.raises(RuntimeError) as info:
        build(tmp_path / "out", **args)
    assert re.fullmatch(pattern.format(tmp=re.escape(str(tmpdir_env))), str(info.value)), str(info.value)
    assert not (tmp_path / "out").exists()


def test_unsuccessful_end_with_usable_output_becomes_a_warning(stand_in, tmp_path):
    stand_in(writes_output(SIX_ATOMS) + "\necho some progress\nprintf 'bad \\377 byte' >&2\nkill -KILL $$")
    summary = build(tmp_path / "out")
    # One line with Packmol's last words; its whole output beside the files, named in it.
    log = tmp_path / "out" / "packmol.log"
    assert summary.endswith(
        f"warning: packmol exited on a signal: some progress; bad \ufffd byte (whole log: {log})\n")
    assert log.read_text() == "packmol exited on a signal:\nstdout:\nsome progress\n\nstderr:\nbad \ufffd byte"
    # Both waters as the stand-in put them, about (1, 2, 3), in their template's shape.
    centres = atoms_of(tmp_path / "out" / "data.lmp")[1].reshape(2, 3, 3).mean(axis=1)
    assert np.allclose(centres, [1.0, 2.0, 3.0], atol=1e-5)


def test_ctrl_c_ends_packmol_promptly_and_keeps_earlier_outputs(stand_in, tmp_path):
    pid_file, out = tmp_path / "packmol.pid", tmp_path / "out"
    stand_in(f'echo $$ > "{pid_file}"; exec sleep 30')
    out.mkdir()
    earlier = {"data.lmp": "earlier data\n", "forcefield.lmp": "earlier force field\n"}
    for name, text in earlier.items():
        (out / name).write_text(text)
    assert ends(lambda: build(out), KeyboardInterrupt, 0.5)[1] < 1.5  # within a second of the signal
    assert process_gone(int(pid_file.read_text()))
    assert {p.name: p.read_text() for p in out.iterdir()} == earlier


# --- Sub-boxes side by side -------------------------------------------------------------------------


# Sub-box 3 of 8 stumbles in one of these ways while the others would run for half a minute.
SUB3 = SIMBOX.replace("/simbox", "/sub_box_3/simbox")
SUB_BOX_FAULTS = {
    "no-output": ("exit 0", rf"sub-box 3 of 16: packmol did not produce the expected output file {SUB3}"),
    "short": ("echo 'HETATM    1 O' > simbox.pdb", rf"sub-box 3 of 16: malformed PDB line in {SUB3}: HETATM    1 O"),
    "ctrl-c": ("exec sleep 30", None),
}


@pytest.mark.parametrize("fault, pattern", SUB_BOX_FAULTS.values(), ids=SUB_BOX_FAULTS.keys())
def test_a_failing_sub_box_or_ctrl_c_ends_every_packmol_and_leaves_nothing(stand_in, tmp_path, tmpdir_env, fault,
                                                                           pattern):
    pids = tmp_path / "pids"
    # Sub-boxes 1, 3, 9 and 11 of a 4 × 4 grid make its first round; 3 fails once all four are running.
    stand_in(f'echo $$ >> "{pids}"; case "$PWD" in */sub_box_3) '
             f'until [ $(wc -l < "{pids}") -eq 4 ]; do sleep 0.05; done; {fault};; *) exec sleep 30;; esac')
    error, seconds = ends(
        lambda: build(tmp_path / "out", [WATER], [32], entry=pack_sub_boxes_py, grid=(4, 4, 1), jobs=8),
        RuntimeError if pattern else KeyboardInterrupt, None if pattern else 1.0)
    assert seconds < 5
    assert pattern is None or re.fullmatch(pattern.format(tmp=re.escape(str(tmpdir_env))), str(error)), str(error)
    started_pids = [int(p) for p in pids.read_text().split()]
    assert len(started_pids) == 4 and all(process_gone(p) for p in started_pids)
    assert not (tmp_path / "out").exists()


# A stand-in body that fills its box with as many atoms as pack.inp asks for (three a molecule), all at (1, 2, 3),
# and the fixed atoms of obstacles.pdb after them.
FILLS_ITS_BOX = ("n=$(awk '/^structure obstacles/ {o = 1} /number/ && !o {s += $2} END {print 3 * s}' pack.inp)\n"
                 "n=$((n + $(cat obstacles.pdb 2>/dev/null | grep -c HETATM)))\n"
                 f"awk -v n=$n 'BEGIN {{for (i = 0; i < n; i++) print \"{record(1)}\"}}' > simbox.pdb\n")


def test_an_unsuccessful_sub_box_with_a_usable_box_is_a_warning_naming_it(stand_in, tmp_path):
    seeds = tmp_path / "seeds"
    stand_in(f'grep ^seed pack.inp >> "{seeds}"\n' + FILLS_ITS_BOX +
             'case "$PWD" in */sub_box_2) echo stuck; exit 173;; esac')
    summary = build(tmp_path / "out", [WATER], [16], entry=pack_sub_boxes_py, grid=(2, 2, 2))
    log = tmp_path / "out" / "packmol.log"
    assert f"warning: sub-box 2 of 8: packmol exited with status 173: stuck (whole log: {log})\n" in summary
    assert log.read_text().startswith("== sub-box 2 of 8 ==\npackmol exited with status 173:\nstdout:\nstuck")
    assert summary.count("warning: sub-box") == 1
    assert len(set(seeds.read_text().splitlines())) == 8  # equal sub-boxes are not packed alike


# Small boxes one run whatever the cores; larger ones in sub-boxes on the cores given, each packed once.
@pytest.mark.parametrize("waters, jobs, split, at_once", [(1_500, None, False, 1), (20_000, 1, False, 1),
                                                          (20_000, None, True, len(os.sched_getaffinity(0))),
                                                          (20_000, 3, True, 3)])
def test_jobs_choose_one_run_or_sub_boxes_and_how_many_run_at_once(stand_in, tmp_path, waters, jobs, split, at_once):
    log = tmp_path / "log"
    stand_in(f'd=$(basename "$PWD"); echo "+ $d" >> "{log}"; sleep 0.3\n{FILLS_ITS_BOX}echo "- $d" >> "{log}"')
    assert f"atoms: {3 * waters} " in build(tmp_path / "out", [WATER], [waters], entry=pack_packmol, jobs=jobs)
    events = [line.split() for line in log.read_text().splitlines()]
    started = [d for sign, d in events if sign == "+"]
    if not split:
        assert started == [started[0]] and not started[0].startswith("sub_box")
    else:
        assert len(started) > 1 and sorted(started) == sorted(f"sub_box_{k}" for k in range(1, len(started) + 1))
    running = np.cumsum([1 if sign == "+" else -1 for sign, _ in events])
    assert running.max() <= at_once and (at_once == 1 or running.max() > 1)


@pytest.mark.parametrize("jobs, exc", [(0, ValueError), (-2, ValueError), (True, TypeError), (2.0, TypeError)])
def test_jobs_must_be_a_positive_integer(tmp_path, jobs, exc):
    with pytest.raises(exc, match="jobs|integer"):
        build(tmp_path / "out", entry=pack_packmol, jobs=jobs)


def test_progress_tells_the_cut_and_each_sub_box_packed(stand_in, tmp_path):
    stand_in(FILLS_ITS_BOX)
    lines: list[str] = []
    build(tmp_path / "out", [WATER], [16], entry=pack_sub_boxes_py, grid=(2, 2, 2), jobs=2, progress=lines.append)
    assert lines[0] == ("the box is cut into 2 × 2 × 2 sub-boxes, packed in 8 rounds by up to 2 Packmol runs at "
                        "once, each beside the sub-boxes of earlier rounds")
    packed = [re.fullmatch(r"sub-box (\d) of 8 packed \(\d+\.\d s\)", line) for line in lines[1:]]
    assert all(packed) and sorted(int(m[1]) for m in packed) == list(range(1, 9))  # every sub-box once

    def stops(line: str) -> None:
        raise ValueError("seen enough")

    with pytest.raises(ValueError, match="seen enough"):  # a callback that raises ends the build, writing nothing
        build(tmp_path / "stopped", [WATER], [16], entry=pack_sub_boxes_py, grid=(2, 2, 2), jobs=2, progress=stops)
    assert not (tmp_path / "stopped").exists()


def test_the_seed_picks_the_box(real_packmol, tmp_path):
    def positions(name: str, **seed) -> np.ndarray:
        summary = build(tmp_path / name, [WATER], [60], **seed)
        assert f"\nseed: {seed.get('seed', 1234567)}\n" in summary
        return atoms_of(tmp_path / name / "data.lmp")[1]

    default = positions("default")
    assert np.array_equal(default, positions("same", seed=1234567))  # Packmol's own default: builds repeat
    assert not np.allclose(default, positions("other", seed=7))  # another seed, an independent box
