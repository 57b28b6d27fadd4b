"""The output directory when builds overlap or die: one build's pair of files, no temporary files left."""

from __future__ import annotations

import fcntl
import json
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

import pytest

from cellkit import _native
from test_careless_inputs import two_type_inputs

# A build in a process of its own: species, force field, out_dir, atom count as a JSON argument.
BUILD = """
import json, sys
import numpy as np
from cellkit import _native
species, force_field, out_dir, n = json.loads(sys.argv[1])
coords = np.random.default_rng(1).uniform(0.0, 100.0, (n, 3))
_native.pack_from_coords_py(species, [n // 2], coords, 100.0, force_field=force_field, out_dir=out_dir)
"""


def start_build(species, force_field, out_dir, atoms):
    return subprocess.Popen([sys.executable, "-c", BUILD, json.dumps([species, force_field, str(out_dir), atoms])],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def wait_for(condition, what, timeout=60.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            pytest.fail(f"gave up waiting for {what}")
        time.sleep(0.002)


def test_a_build_waits_while_another_holds_the_directory(tmp_path):
    if not os.path.exists("/proc/locks"):
        pytest.skip("no /proc/locks to see the waiting build")
    species, force_field = two_type_inputs(tmp_path / "in")
    out = tmp_path / "out"
    out.mkdir()
    def queued(child):
        waiting = re.compile(rf"-> FLOCK\s+ADVISORY\s+WRITE\s+{child.pid}\b")
        wait_for(lambda: child.poll() is not None or waiting.search(pathlib.Path("/proc/locks").read_text()),
                 "the second build to queue on the lock")
        assert child.poll() is None, child.communicate()
        assert os.listdir(out) == []

    held = os.open(out, os.O_RDONLY)
    try:
        fcntl.flock(held, fcntl.LOCK_EX)  # as another build does from its first write to its last rename
        # Ctrl-C ends the wait.
        child = start_build(species, force_field, out, 20)
        queued(child)
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=60)
        assert "waiting for the lock on " in err and "KeyboardInterrupt" in err, err
        assert os.listdir(out) == []
        # Otherwise the build goes on once the directory is free.
        child = start_build(species, force_field, out, 20)
        queued(child)
    finally:
        os.close(held)
    _, err = child.communicate(timeout=60)
    assert child.returncode == 0, err
    assert sorted(os.listdir(out)) == ["data.lmp", "forcefield.lmp"]


def open_files_in(pid: int, directory: pathlib.Path) -> list[str]:
    found = []
    try:
        for fd in os.listdir(f"/proc/{pid}/fd"):
            try:
                target = os.readlink(f"/proc/{pid}/fd/{fd}")
            except OSError:
                continue
            if target.startswith(f"{directory}/"):
                found.append(target)
    except OSError:
        pass
    return found


def test_a_build_killed_while_writing_leaves_no_temporary_file(tmp_path):
    species, force_field = two_type_inputs(tmp_path / "in")
    out = tmp_path / "out"
    out.mkdir()
    for _ in range(5):
        child = start_build(species, force_field, out, 300_000)
        seen = []
        while child.poll() is None and not seen:
            seen = open_files_in(child.pid, out)
        if seen:
            child.send_signal(signal.SIGKILL)
            child.communicate()
            break
        child.communicate()
    else:
        pytest.fail("never caught the build while it wrote")
    assert child.returncode == -signal.SIGKILL
    assert [name for name in os.listdir(out) if name.startswith(".")] == []

    _native.pack_from_coords_py(species, [1], [[5.0, 5.0, 5.0], [6.5, 5.0, 5.0]], 20.0, force_field=force_field,
                                out_dir=str(out))
    assert sorted(os.listdir(out)) == ["data.lmp", "forcefield.lmp"]


def test_ctrl_c_while_writing_leaves_the_directory_as_it_was(tmp_path):
    species, force_field = two_type_inputs(tmp_path / "in")
    out = tmp_path / "out"
    out.mkdir()
    for _ in range(5):
        child = start_build(species, force_field, out, 2_000_000)
        seen = []
        while child.poll() is None and not seen:
            seen = open_files_in(child.pid, out)
        if seen:
            child.send_signal(signal.SIGINT)
            _, err = child.communicate(timeout=60)
            break
        child.communicate()
    else:
        pytest.fail("never caught the build while it wrote")
    assert child.returncode != 0 and "KeyboardInterrupt" in err, err
    assert os.listdir(out) == []
