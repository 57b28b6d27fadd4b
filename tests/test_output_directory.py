"""The output directory when builds overlap or die: one build's pair of files, no temporary files left."""

import contextlib
import fcntl
import os
import pathlib
import re
import signal
import subprocess
import sys
import time

import pytest

from helpers import EXAMPLES

FF = EXAMPLES / "force_field.json"
# A build of argv[2] methanes at random places, in a process of its own, into the directory argv[1], with the
# force field argv[3]; then its peak RSS in KiB (VmHWM: getrusage's ru_maxrss would inherit the parent's at fork).
BUILD = f"""
import re, sys
import numpy as np
from cellkit import _native
n = int(sys.argv[2])
_native.pack_from_coords_py([{str(EXAMPLES / "methane.json")!r}], [n], np.random.default_rng(1).uniform(0, 100, (n, 3)),
                            100.0, force_field=sys.argv[3], out_dir=sys.argv[1])
print(re.search(r"VmHWM:\\s*(\\d+) kB", open("/proc/self/status").read())[1])
"""


def start_build(out: pathlib.Path, atoms: int, force_field: pathlib.Path = FF) -> subprocess.Popen:
    return subprocess.Popen([sys.executable, "-c", BUILD, str(out), str(atoms), str(force_field)],
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def caught(out: pathlib.Path, atoms: int, ready) -> subprocess.Popen:
    """A build caught while ready(its pid) holds."""
    child, deadline = start_build(out, atoms), time.monotonic() + 60
    while not ready(child.pid):
        assert child.poll() is None and time.monotonic() < deadline, "never caught the build"
    return child


def writing_in(pid: int, directory: pathlib.Path) -> bool:
    """Whether the process has a file in the directory open."""
    with contextlib.suppress(OSError):  # the process ended, or closed a file meanwhile
        fds = os.listdir(f"/proc/{pid}/fd")
        return any(os.readlink(f"/proc/{pid}/fd/{fd}").startswith(f"{directory}/") for fd in fds)
    return False


@pytest.mark.skipif(not os.path.exists("/proc/locks"), reason="no /proc/locks to see the waiting build")
def test_a_build_waits_while_another_holds_the_directory(tmp_path):
    def queued(pid):
        return re.search(rf"-> FLOCK\s+ADVISORY\s+WRITE\s+{pid}\b", pathlib.Path("/proc/locks").read_text())

    held = os.open(tmp_path, os.O_RDONLY)
    try:
        fcntl.flock(held, fcntl.LOCK_EX)  # as another build does from its first write to its last rename
        child = caught(tmp_path, 20, queued)
        child.send_signal(signal.SIGINT)  # Ctrl-C ends the wait
        err = child.communicate(timeout=60)[1]
        assert "waiting for the lock on " in err and "KeyboardInterrupt" in err and os.listdir(tmp_path) == [], err
        child = caught(tmp_path, 20, queued)  # otherwise the build goes on once the directory is free
        assert os.listdir(tmp_path) == []
    finally:
        os.close(held)
    err = child.communicate(timeout=60)[1]
    assert child.returncode == 0 and sorted(os.listdir(tmp_path)) == ["data.lmp", "forcefield.lmp"], err


@pytest.mark.parametrize("signum", [signal.SIGKILL, signal.SIGINT], ids=["kill", "int"])
def test_a_build_stopped_while_writing_leaves_no_temporary_file(tmp_path, signum):
    child = caught(tmp_path, 2_000_000, lambda pid: writing_in(pid, tmp_path))
    child.send_signal(signum)
    err = child.communicate(timeout=60)[1]
    assert child.returncode == -signum and [name for name in os.listdir(tmp_path) if name.startswith(".")] == [], err
    if signum == signal.SIGINT:  # Ctrl-C leaves the directory as it was
        assert "KeyboardInterrupt" in err and os.listdir(tmp_path) == [], err
    assert start_build(tmp_path, 20).wait(timeout=60) == 0  # nothing left behind stands in the next build's way
    assert sorted(os.listdir(tmp_path)) == ["data.lmp", "forcefield.lmp"]
