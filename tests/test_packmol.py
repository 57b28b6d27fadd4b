"""The Packmol route: the real packmol on small boxes, scripted stand-ins for what it cannot be made to do."""

from __future__ import annotations

import inspect
import math
import os
import pathlib
import re
import shutil
import signal
import threading
import time

import numpy as np
import pytest

from cellkit import _native
from cellkit._parallel import pack_packmol
from helpers import EXAMPLES, lammps_script, process_gone, run_lammps, template, ticks_during

pytestmark = pytest.mark.usefixtures("tmpdir_env")

PyPairSetup = _native.PyPairSetup
pack_packmol_py = _native.pack_packmol_py
FORCE_FIELD = str(EXAMPLES / "force_field.json")
WATER, METHANE, BUTANE = (str(EXAMPLES / f"{n}.json") for n in ("water", "methane", "butane"))
REAL_PACKMOL = shutil.which("packmol")


@pytest.fixture
def real_packmol():
    if REAL_PACKMOL is None:
        pytest.skip("no packmol on PATH (it comes with pip install packmol)")
    return REAL_PACKMOL


@pytest.fixture
def stand_in(tmp_path, monkeypatch):
    """Puts a shell script called packmol first on PATH; it runs in Packmol's working directory."""

    def install(body: str, mode: int = 0o755) -> pathlib.Path:
        bin_dir = tmp_path / "bin"
        bin_dir.mkdir(exist_ok=True)
        script = bin_dir / "packmol"
        script.write_text("#!/bin/sh\n" + body + "\n")
        script.chmod(mode)
        monkeypatch.setenv("PATH", f"{bin_dir}{os.pathsep}{os.environ['PATH']}")
        return script

    return install


def record(n: int, x: str = "1.000", y: str = "2.000", z: str = "3.000", kind: str = "HETATM") -> str:
    return f"{kind}{n:5d} O    WAT A   1    {x:>8}{y:>8}{z:>8}  1.00  0.00"


def writes_output(lines: list[str]) -> str:
    """Stand-in body that writes simbox.pdb with these lines."""
    return "cat > simbox.pdb <<'PDB'\n" + "\n".join(lines) + "\nPDB"


SIX_ATOMS = [record(i + 1) for i in range(6)]  # two waters


def build_two_waters(out_dir, **kwargs):
    return pack_packmol_py([WATER], [2], 1000.0, force_field=FORCE_FIELD, out_dir=str(out_dir), **kwargs)


# --- The real Packmol --------------------------------------------------------------------------


def atoms_of(data_lmp: pathlib.Path) -> tuple[np.ndarray, np.ndarray, list[str], float]:
    """Molecule ids, positions, type names and box edge from the Atoms section of data.lmp."""
    lines = data_lmp.read_text().splitlines()
    edge = float(next(line for line in lines if line.endswith("xlo xhi")).split()[1])
    start = lines.index("Atoms") + 2
    rows = [line.split() for line in lines[start:] if line.strip()]
    rows = rows[: next((i for i, r in enumerate(rows) if not r[0].isdigit()), len(rows))]
    mol = np.array([int(r[1]) for r in rows])
    pos = np.array([[float(v) for v in r[4:7]] for r in rows])
    return mol, pos, [r[8] for r in rows], edge


def test_water_and_methane_pack_in_canonical_order_and_run_in_lammps(real_packmol, lmp, tmp_path):
    summary = pack_packmol_py([WATER, METHANE], [500, 20], 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path))
    lines = summary.splitlines()
    edge = (500 * (15.9994 + 2 * 1.008) + 20 * 16.043) / 6.02214076e23 / 1.0 * 1e24
    assert lines[2] == (f"box: {edge ** (1 / 3):.3f} Å cube  |  atoms: 1520 (3 types)  bonds: 1000 (1 types)  "
                        "angles: 500 (1 types)  dihedrals: 0 (0 types)")
    assert len(lines) == 5  # two placeholder warnings, no note from Packmol

    mol, pos, types, box = atoms_of(tmp_path / "data.lmp")
    assert box == pytest.approx(edge ** (1 / 3), abs=1e-6)
    # Species in order, molecule copies in turn, atoms in file order.
    assert types == ["Ow", "Hw", "Hw"] * 500 + ["CH4"] * 20
    assert mol.tolist() == [1 + i // 3 for i in range(1500)] + list(range(501, 521))
    # Each water keeps its template geometry, to the 3 decimals Packmol writes.
    water = template(WATER)
    pairs = [(1, 0), (2, 0), (2, 1)]  # both O-H bonds and the H-H distance
    want = [np.linalg.norm(water[i] - water[j]) for i, j in pairs]
    w = pos[:1500].reshape(500, 3, 3)
    got = np.stack([np.linalg.norm(w[:, i] - w[:, j], axis=1) for i, j in pairs], axis=1)
    assert np.abs(got - want).max() < 2e-3
    # Inside the box, away from its faces, and molecules kept apart by about the tolerance.
    assert pos.min() > 2.0 - 0.1 and pos.max() < box - 2.0 + 0.1
    d = np.linalg.norm(pos[:, None, :] - pos[None, :, :], axis=2)
    d[mol[:, None] == mol[None, :]] = np.inf
    assert d.min() > 1.8, d.min()

    run = run_lammps(lmp, tmp_path, lammps_script())
    assert run.counts == {"atoms": 1520, "bonds": 1000, "angles": 500}
    assert all(math.isfinite(v) for v in run.thermo.values()), run.thermo
    assert run.warnings == []


def test_defaults_and_the_script_packmol_reads(real_packmol, stand_in, tmp_path, monkeypatch):
    # A stand-in that records what it is given, then hands over to the real program.
    rec = tmp_path / "rec"
    rec.mkdir()
    # Packmol rewinds its standard input, so it gets the recorded copy, a file, rather than a pipe.
    stand_in(f'pwd > "{rec}/cwd"; ls > "{rec}/files"; cat > "{rec}/script"; exec "{real_packmol}" < "{rec}/script"')
    monkeypatch.chdir(tmp_path)
    shutil.copy(FORCE_FIELD, "force_field.json")
    shutil.copy(WATER, "water.json")
    shutil.copy(METHANE, "my methane.json")

    summary = pack_packmol_py(["water.json", BUTANE, "my methane.json"], [3, 0, 2], 100.0)

    assert summary.startswith("Wrote ./data.lmp\nWrote ./forcefield.lmp\n")
    assert "skipped (count 0): butane\n" in summary
    assert "# Pair setup : Some(LjCut)  |  Explicit LB: false\n" in (tmp_path / "forcefield.lmp").read_text()
    script = (rec / "script").read_text()
    assert script.startswith("# created by boxloom\ntolerance 2.00\nfiletype pdb\noutput simbox.pdb\n")
    assert re.findall(r"^structure (.*)\n  number (\d+)$", script, re.M) == [
        ("species_0_water.pdb", "3"), ("species_1.pdb", "2")]  # numbered among the species packed
    assert (rec / "files").read_text().split() == ["pack.inp", "species_0_water.pdb", "species_1.pdb"]
    assert pathlib.Path((rec / "cwd").read_text().strip()).parent == pathlib.Path(os.environ["TMPDIR"])


@pytest.mark.parametrize("species_name, tmp_name", [("my water", "plain"), ("water", "with space")])
def test_blanks_in_names_and_in_the_temporary_location(real_packmol, tmp_path, monkeypatch, species_name, tmp_name):
    tmp = tmp_path / tmp_name
    tmp.mkdir()
    monkeypatch.setenv("TMPDIR", str(tmp))
    species = tmp_path / f"{species_name}.json"
    shutil.copy(WATER, species)
    summary = pack_packmol_py([str(species), METHANE], [10, 4], 150.0, force_field=FORCE_FIELD,
                              out_dir=str(tmp_path / "out dir"))
    assert "atoms: 34 (3 types)" in summary
    assert "warning: packmol" not in summary
    mol, pos, types, _ = atoms_of(tmp_path / "out dir" / "data.lmp")
    assert types == ["Ow", "Hw", "Hw"] * 10 + ["CH4"] * 4
    assert list(tmp.iterdir()) == []


def test_positional_and_keyword_calls_build_the_same(real_packmol, tmp_path):
    args = ([WATER, METHANE], [4, 2], 100, None, True, FORCE_FIELD)
    pack_packmol_py(*args, str(tmp_path / "a"), 1.5)
    pack_packmol_py(species=args[0], counts=args[1], density=100, pair_style=None, explicit_lb=True,
                    force_field=FORCE_FIELD, out_dir=str(tmp_path / "b"), tolerance=1.5)
    for name in ("data.lmp", "forcefield.lmp"):
        assert (tmp_path / "a" / name).read_bytes() == (tmp_path / "b" / name).read_bytes()
    assert "# Pair setup : None  |  Explicit LB: true\n" in (tmp_path / "a" / "forcefield.lmp").read_text()


# --- Faults found before Packmol starts -------------------------------------------------------


@pytest.mark.parametrize(
    "species, counts, density, message",
    [
        ([WATER], [2], 0.0, "density must be positive"),
        ([WATER], [2], -1000, "density must be positive"),
        ([WATER], [2], float("nan"), "density must be positive"),
        ([WATER], [2], float("inf"), "density must be positive"),
        ([WATER, METHANE], [0, 0], 1000.0, "all species have count 0; nothing to build"),
        ([WATER, "missing.json"], [2, 1], 0.0, "reading missing.json: No such file or directory"),
        (["UNKNOWN"], [1], 1000.0, "molecule 'odd' uses pseudo-atom type 'Xx' not present in the force field"),
    ],
)
def test_input_faults_start_nothing_and_write_nothing(stand_in, tmp_path, species, counts, density, message):
    started = tmp_path / "started"
    stand_in(f'touch "{started}"')
    if species == ["UNKNOWN"]:
        odd = tmp_path / "odd.json"
        odd.write_text('{"pseudoAtoms": [["Ow", [0, 0, 0]], ["Xx", [1, 0, 0]]], "Connectivity": [[0, 1]], '
                       '"Type": "rigid"}')
        species = [str(odd)]
    with pytest.raises(RuntimeError) as info:
        pack_packmol_py(species, counts, density, force_field=FORCE_FIELD, out_dir=str(tmp_path / "out"))
    assert str(info.value) == message
    assert not started.exists() and not (tmp_path / "out").exists()


# --- What only a stand-in can show --------------------------------------------------------------

SIMBOX = r"{tmp}/cellkit-\w{{6}}/simbox\.pdb"

STAND_IN_FAULTS = {
    "not-on-path": (None, r"failed to launch packmol \(is it installed and on PATH\?\): No such file or directory"),
    "not-executable": ("exit 0", r"failed to launch packmol \(is it installed and on PATH\?\): Permission denied"),
    "no-output": ("exit 0", rf"packmol did not produce the expected output file {SIMBOX}"),
    "no-output-failed": ("echo trying; echo giving up >&2; exit 3",
                         rf"packmol did not produce the expected output file {SIMBOX}\n"
                         r"packmol exited with status Some\(3\):\nstdout:\ntrying\n\nstderr:\ngiving up\n"),
    "a-directory": ("mkdir simbox.pdb", rf"reading packmol output {SIMBOX}: Is a directory"),
    "not-utf8": (r"printf 'REMARK \377\n' > simbox.pdb",
                 rf"reading packmol output {SIMBOX}: stream did not contain valid UTF-8"),
    "short-line": (writes_output(SIX_ATOMS[:5] + [SIX_ATOMS[5][:53]]),
                   rf"malformed PDB line in {SIMBOX}: {re.escape(SIX_ATOMS[5][:53])}"),
    "bad-x": (writes_output(SIX_ATOMS[:5] + [record(6, x="1.0.0")]),
              rf"bad x coordinate in {SIMBOX}: {re.escape(record(6, x='1.0.0'))}"),
    "nan-y": (writes_output([record(1, y="nan")] + SIX_ATOMS[1:]),
              rf"bad y coordinate in {SIMBOX}: {re.escape(record(1, y='nan'))}"),
    "infinite-z": (writes_output([record(1, z="-inf")] + SIX_ATOMS[1:]),
                   rf"bad z coordinate in {SIMBOX}: {re.escape(record(1, z='-inf'))}"),
    "too-few-atoms": (writes_output(SIX_ATOMS[:5]), r"packmol output has 5 atoms, expected 6"),
    "too-many-atoms": (writes_output(SIX_ATOMS + ["TER", record(7, kind="ATOM  ")]),
                       r"packmol output has 7 atoms, expected 6"),
}


@pytest.mark.parametrize("body, pattern", STAND_IN_FAULTS.values(), ids=STAND_IN_FAULTS.keys())
def test_packmol_faults_leave_no_output_and_no_temporary_directory(
    stand_in, tmp_path, monkeypatch, tmpdir_env, body, pattern
):
    if body is None:
        monkeypatch.setenv("PATH", str(tmp_path))  # nothing called packmol there
    elif pattern.endswith("Permission denied"):
        # Alone on PATH: the search would skip it for a packmol further on.
        monkeypatch.setenv("PATH", str(stand_in(body, mode=0o644).parent))
    else:
        stand_in(body)
    with pytest.raises(RuntimeError) as info:
        build_two_waters(tmp_path / "out")
    assert re.fullmatch(pattern.format(tmp=re.escape(str(tmpdir_env))), str(info.value)), str(info.value)
    assert not (tmp_path / "out").exists()


@pytest.mark.parametrize(
    "ending, status",
    [("exit 173", "Some(173)"), ("kill -KILL $$", "None")],
)
def test_unsuccessful_exit_with_usable_output_becomes_a_warning(stand_in, tmp_path, ending, status):
    stand_in(writes_output(SIX_ATOMS) + "\necho some progress\nprintf 'bad \\377 byte' >&2\n" + ending)
    summary = build_two_waters(tmp_path / "out")
    note = f"warning: packmol exited with status {status}:\nstdout:\nsome progress\n\nstderr:\nbad \ufffd byte\n"
    assert summary.endswith(note)
    _, pos, _, _ = atoms_of(tmp_path / "out" / "data.lmp")
    assert pos.tolist() == [[1.0, 2.0, 3.0]] * 6


# --- A well-mannered long run ----------------------------------------------------------------------


def test_ctrl_c_ends_packmol_promptly_and_keeps_earlier_outputs(stand_in, tmp_path):
    pid_file = tmp_path / "packmol.pid"
    stand_in(f'echo $$ > "{pid_file}"; exec sleep 30')
    out = tmp_path / "out"
    out.mkdir()
    (out / "data.lmp").write_text("earlier data\n")
    (out / "forcefield.lmp").write_text("earlier force field\n")

    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    started = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            build_two_waters(out)
        stopped = time.monotonic()
    finally:
        timer.cancel()
    assert pid_file.exists()
    # The signal came 0.5 s in; the call must have ended within a second of it.
    assert stopped - started < 1.5
    assert process_gone(int(pid_file.read_text()))
    assert sorted(p.name for p in out.iterdir()) == ["data.lmp", "forcefield.lmp"]
    assert (out / "data.lmp").read_text() == "earlier data\n"
    assert (out / "forcefield.lmp").read_text() == "earlier force field\n"


def test_other_threads_run_while_packmol_runs(stand_in, tmp_path):
    stand_in("sleep 1; exit 0")  # a slow Packmol that leaves nothing behind

    def build():
        with pytest.raises(RuntimeError, match="did not produce"):
            build_two_waters(tmp_path / "out")

    ticks = ticks_during(build, period=0.01)
    assert ticks > 30  # about 100 while Packmol sleeps; none if the lock were held


# --- Sub-boxes side by side -------------------------------------------------------------------------

pack_sub_boxes_py = _native._pack_packmol_sub_boxes_py


def closest_between_molecules(pos: np.ndarray, mol: np.ndarray, cell: float) -> float:
    """Smallest distance between atoms of different molecules, by a cell list (exact up to `cell`)."""
    cells: dict[tuple, list[int]] = {}
    for i, key in enumerate(map(tuple, np.floor(pos / cell).astype(int))):
        cells.setdefault(key, []).append(i)
    best = np.inf
    for (x, y, z), members in cells.items():
        near = np.array([j for dx in (-1, 0, 1) for dy in (-1, 0, 1) for dz in (-1, 0, 1)
                         for j in cells.get((x + dx, y + dy, z + dz), ())])
        a = np.array(members)
        d = np.linalg.norm(pos[a, None] - pos[None, near], axis=2)
        d[mol[a, None] == mol[None, near]] = np.inf
        best = min(best, d.min())
    return best


def test_sub_boxes_pack_a_mixture_exactly_apart_and_in_canonical_order(real_packmol, lmp, tmp_path):
    summary = pack_sub_boxes_py([WATER, METHANE], [240, 60], 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path),
                                per_axis=2, jobs=2)
    single_edge = (240 * (15.9994 + 2 * 1.008) + 60 * 16.043) / 6.02214076e23 * 1e24
    assert f"box: {single_edge ** (1 / 3):.3f} Å cube  |  atoms: 780 (3 types)" in summary
    assert "warning: sub-box" not in summary

    mol, pos, types, edge = atoms_of(tmp_path / "data.lmp")
    assert types == ["Ow", "Hw", "Hw"] * 240 + ["CH4"] * 60
    assert mol.tolist() == [1 + i // 3 for i in range(720)] + list(range(241, 301))
    assert np.abs(np.linalg.norm(pos[1:720:3] - pos[0:720:3], axis=1) - 1.0).max() < 2e-3  # waters whole
    # Each octant holds a sub-box's share: 30 waters, and 60 methanes split 8 8 8 8 7 7 7 7.
    octant = lambda p: (p >= edge / 2).astype(int) @ [1, 2, 4]  # noqa: E731
    waters = np.bincount(octant(pos[0:720:3]), minlength=8)
    methanes = np.bincount(octant(pos[720:]), minlength=8)
    assert waters.tolist() == [30] * 8 and sorted(methanes.tolist()) == [7] * 4 + [8] * 4
    # The margin at the faces, half the tolerance each side of the cuts, the tolerance between molecules.
    rounding = 0.1  # Packmol stops once violations are this small
    assert pos.min() > 2.0 - rounding and pos.max() < edge - 2.0 + rounding
    assert np.abs(pos - edge / 2).min() > 1.0 - rounding
    assert closest_between_molecules(pos, mol, 2.0) > 2.0 - rounding

    run = run_lammps(lmp, tmp_path, lammps_script())
    assert run.counts == {"atoms": 780, "bonds": 480, "angles": 240}
    assert all(math.isfinite(v) for v in run.thermo.values()), run.thermo
    assert run.warnings == []


# Sub-box 3 of 8 stumbles in one of these ways while the others would run for half a minute.
SUB_BOX_FAULTS = {
    "no-output": ("exit 0", r"sub-box 3 of 8: packmol did not produce the expected output file "
                            r"{tmp}/cellkit-\w{{6}}/sub_box_3/simbox\.pdb"),
    "short": ("echo 'HETATM    1 O' > simbox.pdb",
              r"sub-box 3 of 8: malformed PDB line in {tmp}/cellkit-\w{{6}}/sub_box_3/simbox\.pdb: HETATM    1 O"),
    "ctrl-c": ("exec sleep 30", None),
}


@pytest.mark.parametrize("fault, pattern", SUB_BOX_FAULTS.values(), ids=SUB_BOX_FAULTS.keys())
def test_a_failing_sub_box_or_ctrl_c_ends_every_packmol_and_leaves_nothing(stand_in, tmp_path, tmpdir_env, fault,
                                                                           pattern):
    pids = tmp_path / "pids"
    stand_in(f'echo $$ >> "{pids}"; case "$PWD" in */sub_box_3) '  # it fails once all eight are running
             f'until [ $(wc -l < "{pids}") -eq 8 ]; do sleep 0.05; done; {fault};; *) exec sleep 30;; esac')
    timer = threading.Timer(1.0, os.kill, (os.getpid(), signal.SIGINT))
    if pattern is None:
        timer.start()
    started = time.monotonic()
    try:
        with pytest.raises(KeyboardInterrupt if pattern is None else RuntimeError) as info:
            pack_sub_boxes_py([WATER], [16], 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path / "out"),
                              per_axis=2, jobs=8)
    finally:
        timer.cancel()
    assert time.monotonic() - started < 5
    if pattern is not None:
        assert re.fullmatch(pattern.format(tmp=re.escape(str(tmpdir_env))), str(info.value)), str(info.value)
    started_pids = [int(p) for p in pids.read_text().split()]
    assert len(started_pids) == 8 and all(process_gone(p) for p in started_pids)
    assert not (tmp_path / "out").exists()


# A stand-in body that fills its box with as many atoms as pack.inp asks for, all at (1, 2, 3).
FILLS_ITS_BOX = ("n=$(awk '/number/ {s += $2} END {print 3 * s}' pack.inp)\n"
                 f"awk -v n=$n 'BEGIN {{for (i = 0; i < n; i++) print \"{record(1)}\"}}' > simbox.pdb\n")


def test_an_unsuccessful_sub_box_with_a_usable_box_is_a_warning_naming_it(stand_in, tmp_path):
    seeds = tmp_path / "seeds"
    stand_in(f'grep ^seed pack.inp >> "{seeds}"\n' + FILLS_ITS_BOX +
             'case "$PWD" in */sub_box_2) echo stuck; exit 173;; esac')
    summary = pack_sub_boxes_py([WATER], [16], 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path / "out"),
                                per_axis=2)
    assert summary.endswith("warning: sub-box 2 of 8: packmol exited with status Some(173):\nstdout:\nstuck\n\n"
                            "stderr:\n\n")
    assert summary.count("warning: sub-box") == 1
    assert len(set(seeds.read_text().splitlines())) == 8  # equal sub-boxes are not packed alike


SUB_BOXES = [f"sub_box_{k}" for k in range(1, 9)]


@pytest.mark.parametrize("waters, jobs, folders, at_once", [
    (15_999, None, ["."], 1),  # under 8 x 2,000 molecules: one run, whatever the cores
    (16_000, None, SUB_BOXES, len(os.sched_getaffinity(0))),
    (16_000, 1, ["."], 1),
    (16_000, 3, SUB_BOXES, 3),
])
def test_jobs_choose_one_run_or_sub_boxes_and_how_many_run_at_once(stand_in, tmp_path, waters, jobs, folders,
                                                                   at_once):
    log = tmp_path / "log"
    stand_in(f'd=$(basename "$PWD"); echo "+ $d" >> "{log}"; sleep 0.3\n{FILLS_ITS_BOX}echo "- $d" >> "{log}"')
    summary = pack_packmol([WATER], [waters], 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path / "out"),
                           jobs=jobs)
    assert f"atoms: {3 * waters} " in summary
    events = [line.split() for line in log.read_text().splitlines()]
    assert sorted(d if d.startswith("sub_box") else "." for sign, d in events if sign == "+") == folders
    running = np.cumsum([1 if sign == "+" else -1 for sign, _ in events])
    assert running.max() <= at_once and (at_once == 1 or running.max() > 1)


@pytest.mark.parametrize("jobs, exc", [(0, ValueError), (-2, ValueError), (True, TypeError), (2.0, TypeError)])
def test_jobs_must_be_a_positive_integer(stand_in, tmp_path, jobs, exc):
    started = tmp_path / "started"
    stand_in(f'touch "{started}"')
    with pytest.raises(exc, match="jobs|integer"):
        pack_packmol([WATER], [2], 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path / "out"), jobs=jobs)
    assert not started.exists()


# --- The binding ---------------------------------------------------------------------------------


def test_signature_and_doc():
    assert pack_packmol_py.__text_signature__ == (
        "(species, counts, density, pair_style=..., explicit_lb=False, force_field=..., out_dir=..., tolerance=2.0)"
    )
    params = inspect.signature(pack_packmol_py).parameters
    assert {p.kind for p in params.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
    assert pack_packmol_py.__doc__.startswith("Pack with Packmol and write LAMMPS files.\n\n")
    assert "`cellkit.pack.packmol`" in pack_packmol_py.__doc__
    assert pack_sub_boxes_py.__text_signature__ == (
        "(species, counts, density, pair_style=..., explicit_lb=False, force_field=..., out_dir=..., tolerance=2.0, "
        "per_axis=0, jobs=0)"
    )


@pytest.mark.parametrize(
    "override, exc, message, param",
    [
        ({"density": "1000"}, TypeError, "must be real number, not str", "density"),
        ({"tolerance": None}, TypeError, "must be real number, not NoneType", "tolerance"),
        ({"out_dir": pathlib.Path("o")}, TypeError, "'PosixPath' object is not an instance of 'str'", "out_dir"),
    ],
)
def test_conversion_failures_name_the_parameter(override, exc, message, param):
    args = {"species": [WATER], "counts": [2], "density": 1000.0, "force_field": "missing.json", **override}
    with pytest.raises(exc) as info:
        pack_packmol_py(**args)
    assert type(info.value) is exc and str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{param}'"]

