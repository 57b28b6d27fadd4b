"""The RASPA3 route, with a scripted `python` on PATH that runs a stand-in cellkit.raspa_init."""

from __future__ import annotations

import importlib.util
import json
import os
import re
import resource
import shutil
import sys
import textwrap

import numpy as np
import pytest

from cellkit._native import pack_raspa_py
from helpers import EXAMPLES, ends, lammps_script, process_gone, run_lammps

pytestmark = pytest.mark.usefixtures("tmpdir_env")

FORCE_FIELD = str(EXAMPLES / "force_field.json")
WATER, METHANE = (str(EXAMPLES / f"{n}.json") for n in ("water", "methane"))
# The atoms of two waters in their template's shape (a rigid molecule is written in it exactly), at
# numbers data.lmp's seven digits keep.
SIX = [[1.0, 2.0, 3.0], [2.0, 2.0, 3.0], [0.666687, 2.942816, 3.0],
       [5.0, 5.0, 5.0], [5.0, 6.0, 5.0], [5.0, 4.666687, 5.942816]]
KEYWORDS = ("counts, density, force_field_path, molecule_paths, n_equil_cycles, n_init_cycles, n_prod_cycles, seed, "
            "temperature")
RUN, OK = 'exec "$PY" "$@"', "return 30, SIX"


@pytest.fixture
def fake_python(tmp_path, monkeypatch):
    """Commands `names` first on PATH (or alone on it) that run `shell`, where $PY is this interpreter with
    a stand-in cellkit.raspa_init first on its path; its pack_with_raspa3 takes exactly the nine keywords."""

    def install(body=OK, shell=RUN, names=("python",), alone=False, mode=0o755):
        stub, bin_dir = tmp_path / "stub", tmp_path / "bin"
        (stub / "cellkit").mkdir(parents=True, exist_ok=True)
        (stub / "cellkit" / "__init__.py").write_text("")
        head = f"import json, os, shutil, sys, time\nSIX = {SIX}\n\ndef pack_with_raspa3(*, {KEYWORDS}):\n"
        (stub / "cellkit" / "raspa_init.py").write_text(head + textwrap.indent(body, "    "))
        bin_dir.mkdir(exist_ok=True)
        for name in names:
            (bin_dir / name).write_text(f'#!/bin/sh\nexport PYTHONPATH="{stub}"\nPY="{sys.executable}"\n{shell}\n')
            (bin_dir / name).chmod(mode)
        monkeypatch.setenv("PATH", str(bin_dir) if alone else f"{bin_dir}{os.pathsep}{os.environ['PATH']}")

    return install


def build_two_waters(out_dir):
    return pack_raspa_py([WATER], [2], 1000.0, force_field=FORCE_FIELD, out_dir=str(out_dir))


DEFAULTS = '"density":997.0,{paths},"n_equil_cycles":1,"n_init_cycles":1,"n_prod_cycles":1,"seed":1234567,' \
    '"temperature":300.0'


@pytest.mark.parametrize("args, body, names, tmp_name, sent, note", [
    ((997,), "print(' done\\n')", "python3", "plain", DEFAULTS, "warning: raspa output: done\n"),  # python3 alone
    # Blank output is no note; paths are not code: a quote, a line break and a backslash in the temporary location.
    ((997.5, 350, 3, 4, 5), "print('\\n \\u3000\\n')\nsys.stderr.write('ignored')", "python", "it's\nodd\\",
     '"density":997.5,{paths},"n_equil_cycles":4,"n_init_cycles":3,"n_prod_cycles":5,"seed":1234567,'
     '"temperature":350.0', ""),
    # A warning of the run reaches the summary rather than a discarded standard error.
    ((997,), "import warnings\nwarnings.warn('BinaryInteractions ignored')", "python", "warned", DEFAULTS,
     "warning: raspa output: BinaryInteractions ignored\n"),
], ids=["defaults-note-and-python3", "positional-and-blank-output", "a-warning"])
def test_arguments_sent_and_coordinates_and_note_received(fake_python, tmp_path, monkeypatch, args, body, names,
                                                          tmp_name, sent, note):
    rec, tmp = tmp_path / "rec", tmp_path / tmp_name
    rec.mkdir(), tmp.mkdir()
    monkeypatch.setenv("TMPDIR", str(tmp))
    fake_python(f"json.dump(locals(), open({str(rec / 'kwargs')!r}, 'w'))\n"
                f"shutil.copy(sys.argv[1], {str(rec)!r})\n{body}\n{OK}", names=(names,), alone=names == "python3")
    monkeypatch.chdir(tmp_path)
    os.symlink(FORCE_FIELD, "force_field.json")  # the default, relative and a link: sent resolved
    shutil.copy(METHANE, "methane.json")

    summary = pack_raspa_py(["methane.json", WATER], [0, 2], *args)

    assert summary.startswith("Wrote ./data.lmp\nWrote ./forcefield.lmp\nbox: 30.000 Å cube  |  atoms: 6 ")
    assert summary.endswith("choose the force-field pair style for the force-field file's own model\n" + note)
    atoms = (tmp_path / "data.lmp").read_text().split("Atoms")[1].split("Bonds")[0].split("\n")[2:8]
    assert np.allclose([[float(v) for v in line.split()[4:7]] for line in atoms], SIX, atol=2e-6)
    paths = json.dumps({"force_field_path": FORCE_FIELD, "molecule_paths": [os.path.realpath("methane.json"), WATER]},
                       separators=(",", ":"), ensure_ascii=False)
    expected = '{"counts":[0,2],' + sent.replace("{paths}", paths[1:-1]) + "}"
    assert (rec / "raspa3_args.json").read_bytes() == expected.encode()
    assert json.loads((rec / "kwargs").read_text()) == json.loads(expected)
    assert list(tmp.iterdir()) == []


LAUNCH = re.escape("failed to launch python for raspa init (is python/python3 on PATH with cellkit installed?): ")
FAULTS = {  # id: (stand-in body, shell, what is changed before the call, message pattern)
    "args-file": (OK, RUN, "fsize", r"writing raspa3 args file: File too large"),
    "no-python": (OK, RUN, "path", LAUNCH + "No such file or directory"),
    "python3-not-executable": (OK, RUN, "python3", LAUNCH + "Permission denied"),
    "python-fails": (OK, 'case "$0" in */python) echo trying; printf "bad \\377" >&2; exit 3;; esac\n' + RUN, None,
                     r"raspa NVT init failed \(exited with status 3\):\nstdout:\ntrying\n\nstderr:\nbad \ufffd"),
    "exit-2-after-result": (OK, '"$PY" "$@"; exit 2', None, r"raspa NVT init failed \(exited with status 2\).*"),
    "no-result": ("os._exit(0)", RUN, None, r"reading raspa result: No such file or directory"),
    "not-an-array": ("return 30, [[0, 0, 0], 5]", RUN, None, r"coords\[1\] is not an array"),
    # A refusal of the run is told in its own words, without a traceback.
    "refused": ("raise ValueError('density 5000 kg/m³ is too high for RASPA3')", RUN, None,
                r"density 5000 kg/m³ is too high for RASPA3"),
}


@pytest.mark.parametrize("body, shell, change, pattern", FAULTS.values(), ids=FAULTS.keys())
def test_faults_leave_no_output(fake_python, tmp_path, body, shell, change, pattern):
    # python3 is never tried once python ran; alone on PATH, the search would go on past one not executable.
    names = {"python3": ("python3",), "path": ()}.get(change, ("python", "python3"))
    fake_python(body, shell, names=names, alone=len(names) < 2, mode=0o644 if change == "python3" else 0o755)
    limit = resource.getrlimit(resource.RLIMIT_FSIZE)
    if change == "fsize":
        resource.setrlimit(resource.RLIMIT_FSIZE, (100, limit[1]))  # Python ignores SIGXFSZ: the write fails
    try:
        with pytest.raises(RuntimeError) as info:
            build_two_waters(tmp_path / "out")
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, limit)
    assert re.fullmatch(pattern, str(info.value), re.S), str(info.value)
    # Faults before the interpreter runs come before the output step, which may have made the directory.
    assert list((tmp_path / "out").glob("*")) == [] and (change is None or not (tmp_path / "out").exists())


def test_ctrl_c_ends_the_interpreter_promptly(fake_python, tmp_path):
    pid_file, child_file = tmp_path / "python.pid", tmp_path / "child.pid"
    # The interpreter starts one of its own, as the real one starts RASPA3's: both are gone when the call returns.
    fake_python(f"import subprocess\nchild = subprocess.Popen(['sleep', '30'])\n"
                f"open({str(child_file)!r}, 'w').write(str(child.pid))\n"
                f"open({str(pid_file)!r}, 'w').write(str(os.getpid()))\ntime.sleep(30)")
    assert ends(lambda: build_two_waters(tmp_path / "out"), KeyboardInterrupt, 0.5)[1] < 1.5  # within a second
    assert process_gone(int(pid_file.read_text())) and process_gone(int(child_file.read_text()))
    assert not (tmp_path / "out").exists()


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
    # The seed picks the box: the default one twice gives the same box, another seed another box.
    def again(out, **seed):
        pack_raspa_py([WATER, METHANE], [8, 12], 500.0, force_field=FORCE_FIELD, out_dir=str(tmp_path / out),
                      init_cycles=2, equil_cycles=2, prod_cycles=2, **seed)
        return (tmp_path / out / "data.lmp").read_text()

    first = (tmp_path / "data.lmp").read_text()
    assert again("same") == first and again("other", seed=8) != first
