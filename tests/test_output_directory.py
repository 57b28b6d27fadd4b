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


@pytest.fixture
def inputs(tmp_path):
    """The species and force field of a two-atom molecule, and an empty output directory."""
    (tmp_path / "out").mkdir()
    return (*two_type_inputs(tmp_path / "in"), tmp_path / "out")


def start_build(inputs, atoms):
    species, force_field, out = inputs
    return subprocess.Popen([sys.executable, "-c", BUILD, json.dumps([species, force_field, str(out), atoms])],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def wait_for(condition, what, timeout=60.0):
    deadline = time.monotonic() + timeout
    while not condition():
        if time.monotonic() > deadline:
            pytest.fail(f"gave up waiting for {what}")
        time.sleep(0.002)


@pytest.mark.skipif(not os.path.exists("/proc/locks"), reason="no /proc/locks to see the waiting build")
def test_a_build_waits_while_another_holds_the_directory(inputs):
    out = inputs[2]

    def queued(child):
        waiting = re.compile(rf"-> FLOCK\s+ADVISORY\s+WRITE\s+{child.pid}\b")
        wait_for(lambda: child.poll() is not None or waiting.search(pathlib.Path("/proc/locks").read_text()),
                 "the second build to queue on the lock")
        assert child.poll() is None, child.communicate()
        assert os.listdir(out) == []

    held = os.open(out, os.O_RDONLY)
    try:
        fcntl.flock(held, fcntl.LOCK_EX)  # as another build does from its first write to its last rename
        child = start_build(inputs, 20)  # Ctrl-C ends the wait
        queued(child)
        child.send_signal(signal.SIGINT)
        _, err = child.communicate(timeout=60)
        assert "waiting for the lock on " in err and "KeyboardInterrupt" in err, err
        assert os.listdir(out) == []
        child = start_build(inputs, 20)  # otherwise the build goes on once the directory is free
        queued(child)
    finally:
        os.close(held)
    _, err = child.communicate(timeout=60)
    assert child.returncode == 0, err
    assert sorted(os.listdir(out)) == ["data.lmp", "forcefield.lmp"]


def writing_in(pid: int, directory: pathlib.Path) -> bool:
    """Whether the process has a file in the directory open."""
    try:
        fds = os.listdir(f"/proc/{pid}/fd")
        return any(os.readlink(f"/proc/{pid}/fd/{fd}").startswith(f"{directory}/") for fd in fds)
    except OSError:  # the process ended, or closed a file meanwhile
        return False


def signal_while_writing(inputs, atoms: int, signum: int) -> tuple[subprocess.Popen, str]:
    """Sends `signum` to a build while it has a file of the output directory open; (the build, its stderr)."""
    for _ in range(5):
        child = start_build(inputs, atoms)
        while child.poll() is None and not writing_in(child.pid, inputs[2]):
            pass
        if child.poll() is None:
            child.send_signal(signum)
            return child, child.communicate(timeout=60)[1]
        child.communicate()
    pytest.fail("never caught the build while it wrote")


def test_a_build_killed_while_writing_leaves_no_temporary_file(inputs):
    species, force_field, out = inputs
    child, _ = signal_while_writing(inputs, 300_000, signal.SIGKILL)
    assert child.returncode == -signal.SIGKILL
    assert [name for name in os.listdir(out) if name.startswith(".")] == []

    _native.pack_from_coords_py(species, [1], [[5.0, 5.0, 5.0], [6.5, 5.0, 5.0]], 20.0, force_field=force_field,
                                out_dir=str(out))
    assert sorted(os.listdir(out)) == ["data.lmp", "forcefield.lmp"]


def test_ctrl_c_while_writing_leaves_the_directory_as_it_was(inputs):
    out = inputs[2]
    child, err = signal_while_writing(inputs, 2_000_000, signal.SIGINT)
    assert child.returncode != 0 and "KeyboardInterrupt" in err, err
    assert os.listdir(out) == []
