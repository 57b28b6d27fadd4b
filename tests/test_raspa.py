"""The RASPA3 route, with a scripted `python` on PATH that runs a stand-in cellkit.raspa_init."""

from __future__ import annotations

import importlib.util
import inspect
import json
import os
import re
import resource
import shutil
import signal
import sys
import textwrap
import threading
import time

import pytest

from cellkit import _native
from helpers import EXAMPLES, lammps_script, process_gone, run_lammps

pytestmark = pytest.mark.usefixtures("tmpdir_env")

pack_raspa_py = _native.pack_raspa_py
FORCE_FIELD = str(EXAMPLES / "force_field.json")
WATER, METHANE = (str(EXAMPLES / f"{n}.json") for n in ("water", "methane"))
SIX = [[i, 2 * i, 3 * i] for i in range(6)]  # the atoms of two waters
KEYWORDS = "counts, density, force_field_path, molecule_paths, n_equil_cycles, n_init_cycles, n_prod_cycles, temperature"
RUN = 'exec "$PY" "$@"'


@pytest.fixture
def fake_python(tmp_path, monkeypatch):
    """Commands `names` first on PATH (or alone on it) that run `shell`, where $PY is this interpreter with
    a stand-in cellkit.raspa_init first on its path; its pack_with_raspa3 takes exactly the eight keywords."""

    def install(body="return 30, SIX", shell=RUN, names=("python",), alone=False, mode=0o755):
        stub = tmp_path / "stub"
        (stub / "cellkit").mkdir(parents=True, exist_ok=True)
        (stub / "cellkit" / "__init__.py").write_text("")
        (stub / "cellkit" / "raspa_init.py").write_text(
            f"import json, os, sys, time\nSIX = {SIX}\n\ndef pack_with_raspa3(*, {KEYWORDS}):\n"
            + textwrap.indent(body, "    ") + "\n")
        bin_dir = tmp_path / "bin"
        bin_dir.mkdir(exist_ok=True)
        for name in names:
            (bin_dir / name).write_text(f'#!/bin/sh\nexport PYTHONPATH="{stub}"\nPY="{sys.executable}"\n{shell}\n')
            (bin_dir / name).chmod(mode)
        monkeypatch.setenv("PATH", str(bin_dir) if alone else f"{bin_dir}{os.pathsep}{os.environ['PATH']}")

    return install


def build_two_waters(out_dir, **kwargs):
    return pack_raspa_py([WATER], [2], 1000.0, force_field=FORCE_FIELD, out_dir=str(out_dir), **kwargs)


@pytest.mark.parametrize(
    "args, sent",
    [
        ((997,), '"density":997.0,{paths},"n_equil_cycles":1,"n_init_cycles":1,"n_prod_cycles":1,"temperature":300.0'),
        ((997.5, 350, 3, 4, 5), '"density":997.5,{paths},"n_equil_cycles":4,"n_init_cycles":3,"n_prod_cycles":5,'
                                '"temperature":350.0'),
        ((float("nan"), float("-inf")), '"density":null,{paths},"n_equil_cycles":1,"n_init_cycles":1,'
                                        '"n_prod_cycles":1,"temperature":null'),
    ],
    ids=["defaults", "positional", "non-finite"],
)
def test_argument_file_and_keyword_call(fake_python, tmp_path, monkeypatch, args, sent):
    rec = tmp_path / "rec"
    rec.mkdir()
    fake_python(f"json.dump(locals(), open({str(rec / 'kwargs')!r}, 'w'))\nreturn 30, SIX",
                f'cp "$TMPDIR"/cellkit-*/raspa3_args.json "{rec}"\n{RUN}')
    monkeypatch.chdir(tmp_path)
    os.symlink(FORCE_FIELD, "force_field.json")  # the default, relative and a link: sent resolved
    shutil.copy(METHANE, "methane.json")

    summary = pack_raspa_py(["methane.json", WATER], [0, 2], *args)

    assert summary.startswith("Wrote ./data.lmp\nWrote ./forcefield.lmp\nbox: 30.000 Å cube  |  atoms: 6 ")
    paths = json.dumps({"force_field_path": FORCE_FIELD, "molecule_paths": [os.path.realpath("methane.json"), WATER]},
                       separators=(",", ":"), ensure_ascii=False)
    expected = '{"counts":[0,2],' + sent.replace("{paths}", paths[1:-1]) + "}"
    assert (rec / "raspa3_args.json").read_bytes() == expected.encode()
    assert json.loads((rec / "kwargs").read_text()) == json.loads(expected)


@pytest.mark.parametrize(
    "body, names, tmp_name, note",
    [
        ("print(' done\\n')\nreturn 30, SIX", ("python",), "plain", "warning: raspa output: done\n"),
        ("print('\\n \\u3000\\n')\nsys.stderr.write('ignored')\nreturn 30, SIX", ("python",), "plain", ""),
        ("print('via python3')\nreturn 30, SIX", ("python3",), "plain", "warning: raspa output: via python3\n"),
        # Paths are not code: a quote, a line break and a backslash in the temporary location.
        ("return 30, SIX", ("python",), "it's\nodd\\", ""),
    ],
    ids=["note", "blank-output", "python3-fallback", "odd-temp-location"],
)
def test_success_gives_the_coordinates_and_the_note(fake_python, tmp_path, monkeypatch, body, names, tmp_name, note):
    tmp = tmp_path / tmp_name
    tmp.mkdir()
    monkeypatch.setenv("TMPDIR", str(tmp))
    fake_python(body, names=names, alone=names == ("python3",))
    summary = build_two_waters(tmp_path / "out")
    assert summary.endswith("(set SHAKE or RIGID in your LAMMPS input)\n" + note)
    atoms = (tmp_path / "out" / "data.lmp").read_text().split("Atoms")[1].split("Bonds")[0].split("\n")[2:8]
    assert [[float(v) for v in line.split()[4:7]] for line in atoms] == SIX
    assert list(tmp.iterdir()) == []


BEFORE_START = {
    "temp-dir": ("TMPDIR", "creating temp directory: No such file or directory"),
    "args-file": ("RLIMIT_FSIZE", "writing raspa3 args file: File too large"),
    "loading": ("species", "reading missing.json: No such file or directory"),
    "no-python": ("PATH", "failed to launch python for raspa init (is python/python3 on PATH with cellkit installed?): "
                          "No such file or directory"),
    "python3-not-executable": ("python3", "failed to launch python for raspa init (is python/python3 on PATH with "
                                          "cellkit installed?): Permission denied"),
}


@pytest.mark.parametrize("change, message", BEFORE_START.values(), ids=BEFORE_START.keys())
def test_faults_before_the_interpreter_runs(fake_python, tmp_path, monkeypatch, tmpdir_env, change, message):
    started = tmp_path / "started"
    fake_python(shell=f'touch "{started}"')
    species, limit = [WATER], resource.getrlimit(resource.RLIMIT_FSIZE)
    if change == "TMPDIR":
        monkeypatch.setenv("TMPDIR", str(tmpdir_env / "missing"))
    elif change == "species":
        species = [WATER, "missing.json"]
    elif change == "PATH":
        monkeypatch.setenv("PATH", str(tmp_path))  # nothing called python or python3 there
    elif change == "python3":
        (tmp_path / "bin" / "python").unlink()
        fake_python(names=("python3",), alone=True, mode=0o644)  # alone: the search would go on past it
    elif change == "RLIMIT_FSIZE":
        resource.setrlimit(resource.RLIMIT_FSIZE, (100, limit[1]))  # Python ignores SIGXFSZ: the write fails
    try:
        with pytest.raises(RuntimeError) as info:
            pack_raspa_py(species, [2] * len(species), 1000.0, force_field=FORCE_FIELD, out_dir=str(tmp_path / "out"))
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, limit)
    assert str(info.value) == message
    assert not started.exists() and not (tmp_path / "out").exists()


INTERPRETER_FAULTS = {
    "python-fails": ("return 30, SIX", 'case "$0" in */python) echo no cellkit >&2; exit 1;; esac\n' + RUN,
                     r"raspa NVT init failed \(exit Some\(1\)\):\nstdout:\n\nstderr:\nno cellkit\n"),
    "exit-3": ("print('trying'); sys.stderr.buffer.write(b'bad \\xff'); sys.exit(3)", RUN,
               r"raspa NVT init failed \(exit Some\(3\)\):\nstdout:\ntrying\n\nstderr:\nbad \ufffd"),
    "killed": ("os.kill(os.getpid(), 9)", RUN, r"raspa NVT init failed \(exit None\):\nstdout:\n\nstderr:\n"),
    "exit-2-after-result": ("return 30, SIX", '"$PY" "$@"; exit 2', r"raspa NVT init failed \(exit Some\(2\)\).*"),
    "no-result": ("os._exit(0)", RUN, r"reading raspa result: No such file or directory"),
    "nan": ("return float('nan'), SIX", RUN, r"parsing raspa result JSON: invalid value at line 1 column 13"),
    "box-string": ("return '30', SIX", RUN, r"raspa result missing 'box_len'"),
    "coords-none": ("return 30, None", RUN, r"raspa result missing 'coords'"),
    "not-an-array": ("return 30, [[0, 0, 0], 5]", RUN, r"coords\[1\] is not an array"),
    "two-elements": ("return 30, [[1, 2]]", RUN, r"coords\[0\] has 2 elements, expected 3"),
    "null": ("return 30, [[1, None, 3]] + SIX[1:]", RUN, r"coords\[0\]\[1\] is not a number"),
}


@pytest.mark.parametrize("body, shell, pattern", INTERPRETER_FAULTS.values(), ids=INTERPRETER_FAULTS.keys())
def test_interpreter_faults_leave_no_output(fake_python, tmp_path, body, shell, pattern):
    fake_python(body, shell, names=("python", "python3"))  # python3 is never tried once python ran
    with pytest.raises(RuntimeError) as info:
        build_two_waters(tmp_path / "out")
    assert re.fullmatch(pattern, str(info.value), re.S), str(info.value)
    assert list((tmp_path / "out").glob("*")) == []  # the output step may have made the directory


def test_ctrl_c_ends_the_interpreter_promptly(fake_python, tmp_path):
    pid_file = tmp_path / "python.pid"
    fake_python(f"open({str(pid_file)!r}, 'w').write(str(os.getpid()))\ntime.sleep(30)")
    timer = threading.Timer(0.5, os.kill, (os.getpid(), signal.SIGINT))
    started = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            build_two_waters(tmp_path / "out")
        stopped = time.monotonic()
    finally:
        timer.cancel()
    # Within a second of the signal, which comes from another thread: the lock was released meanwhile.
    assert stopped - started < 1.5
    assert process_gone(int(pid_file.read_text()))
    assert not (tmp_path / "out").exists()


def test_signature_doc_and_conversions():
    assert pack_raspa_py.__text_signature__ == (
        "(species, counts, density, temperature=300.0, init_cycles=1, equil_cycles=1, prod_cycles=1, "
        "pair_style=..., explicit_lb=False, force_field=..., out_dir=...)")
    assert {p.kind for p in inspect.signature(pack_raspa_py).parameters.values()} == {
        inspect.Parameter.POSITIONAL_OR_KEYWORD}
    assert pack_raspa_py.__doc__.startswith("Pack with RASPA3 subprocess and write LAMMPS files.\n\n")
    assert "This wraps the raspa3_pack_subprocess call for Python users.\n" in pack_raspa_py.__doc__
    for override, exc, param in [({"init_cycles": -1}, OverflowError, "init_cycles"),
                                 ({"prod_cycles": 2.5}, TypeError, "prod_cycles")]:
        with pytest.raises(exc) as info:
            pack_raspa_py([WATER], [2], 1000.0, force_field="missing.json", **override)
        assert type(info.value) is exc and info.value.__notes__ == [f"while processing '{param}'"]


@pytest.mark.skipif(importlib.util.find_spec("raspalib") is None, reason="raspalib is not installed")
def test_real_raspa3_box_runs_in_lammps(lmp, tmp_path, monkeypatch):
    """The whole route on the real RASPA3: this environment's interpreter is the `python` it starts."""
    monkeypatch.setenv("PATH", f"{os.path.dirname(sys.executable)}{os.pathsep}{os.environ['PATH']}")
    monkeypatch.setenv("RASPALIB_QUIET", "1")
    summary = pack_raspa_py([WATER, METHANE], [8, 12], 500.0, force_field=FORCE_FIELD, out_dir=str(tmp_path),
                            init_cycles=2, equil_cycles=2, prod_cycles=2)
    assert "atoms: 36 (3 types)" in summary
    run = run_lammps(lmp, tmp_path, lammps_script())
    assert run.counts["atoms"] == 36 and run.warnings == []
