"""Reading an input file takes memory in proportion to what is kept, not to what is skipped."""

import json
import pathlib
import subprocess
import sys

import pytest

pytestmark = pytest.mark.skipif(not pathlib.Path("/proc/self/status").exists(), reason="needs /proc for peak RSS")

# One build in a fresh interpreter, then its peak RSS in KiB. VmHWM rather than getrusage's ru_maxrss,
# which a child inherits from its parent's peak at fork.
CHILD = """
import re, sys
from cellkit._native import pack_from_coords_py
pack_from_coords_py(["methane.json"], [1], [[0.0, 0.0, 0.0]], 10.0, force_field=sys.argv[1], out_dir="out")
with open("/proc/self/status") as status:
    print(re.search(r"VmHWM:\\s*(\\d+) kB", status.read())[1])
"""

FORCE_FIELD = json.dumps({
    "MixingRule": "Lorentz-Berthelot",
    "PseudoAtoms": [{"name": "CH4", "mass": 16.04, "charge": 0.0}],
    "SelfInteractions": [{"name": "CH4", "parameters": [148.0, 3.73]}],
})
SIZE = 50_000_000


def write_force_field(path: pathlib.Path, item: str, size: int) -> int:
    """The force field with an unknown first key holding [item,item,...] of about `size` bytes."""
    chunk = (item + ",") * 100_000
    with path.open("w") as f:
        f.write('{"comment": [')
        for _ in range(size // len(chunk)):
            f.write(chunk)
        f.write(item + "], " + FORCE_FIELD[1:])
    return path.stat().st_size


def peak_rss(workdir: pathlib.Path, force_field: pathlib.Path) -> int:
    out = subprocess.run([sys.executable, "-c", CHILD, str(force_field)], cwd=workdir, capture_output=True,
                         text=True, timeout=300)
    assert out.returncode == 0, out.stderr
    return int(out.stdout) * 1024


@pytest.fixture(scope="module")
def workdir(tmp_path_factory):
    path = tmp_path_factory.mktemp("memory")
    (path / "methane.json").write_text(json.dumps({"pseudoAtoms": [["CH4", [0, 0, 0]]]}))
    return path


@pytest.fixture(scope="module")
def baseline(workdir):
    """Peak RSS of the same build with a small force field: the interpreter and the module."""
    (workdir / "small.json").write_text(FORCE_FIELD)
    return peak_rss(workdir, workdir / "small.json")


@pytest.mark.parametrize("item", ["1", "{}"], ids=["numbers", "empty-objects"])
def test_skipped_key_costs_little_more_than_its_text(workdir, baseline, item):
    path = workdir / "big.json"
    size = write_force_field(path, item, SIZE)
    try:
        peak = peak_rss(workdir, path)
    finally:
        path.unlink()
    # The text is read whole; one token list or copy per skipped value would cost many times more.
    shown = f"peak {peak / 1e6:.0f} MB, baseline {baseline / 1e6:.0f} MB, file {size / 1e6:.0f} MB"
    assert peak - baseline < 3 * size, shown
    assert (workdir / "out" / "data.lmp").exists()
