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
FORCE_FIELD = json.dumps({"MixingRule": "Lorentz-Berthelot",
                          "PseudoAtoms": [{"name": "CH4", "mass": 16.04, "charge": 0.0}],
                          "SelfInteractions": [{"name": "CH4", "parameters": [148.0, 3.73]}]})


def peak_rss(workdir: pathlib.Path, force_field: str) -> int:
    out = subprocess.run([sys.executable, "-c", CHILD, force_field], cwd=workdir, capture_output=True, text=True,
                         timeout=300)
    assert out.returncode == 0, out.stderr
    return int(out.stdout) * 1024


@pytest.mark.parametrize("item", ["1", "{}"], ids=["numbers", "empty-objects"])
def test_skipped_key_costs_little_more_than_its_text(tmp_path, item):
    (tmp_path / "methane.json").write_text(json.dumps({"pseudoAtoms": [["CH4", [0, 0, 0]]]}))
    (tmp_path / "small.json").write_text(FORCE_FIELD)
    baseline = peak_rss(tmp_path, "small.json")  # the interpreter and the module
    # The same force field with an unknown first key holding [item,item,...] of about 50 MB.
    chunk = (item + ",") * 100_000
    with (tmp_path / "big.json").open("w") as f:
        f.write('{"comment": [' + chunk * (50_000_000 // len(chunk)) + item + "], " + FORCE_FIELD[1:])
    size = (tmp_path / "big.json").stat().st_size
    peak = peak_rss(tmp_path, "big.json")
    # The text is read whole; one token list or copy per skipped value would cost many times more.
    assert peak - baseline < 3 * size, f"peak {peak >> 20} MiB, baseline {baseline >> 20} MiB, file {size >> 20} MiB"
    assert (tmp_path / "out" / "data.lmp").exists()
