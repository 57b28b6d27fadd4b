"""Peak memory and time of a build whose force-field file carries a large key that the reader skips.

Usage: python bench/input_memory.py [megabytes]   (default 50)

For each shape of the ignored value ([1,1,...], [{},{},...], and a small file for the interpreter's
baseline) a fresh interpreter runs one pack_from_coords_py call and reports its own peak RSS.
"""

from __future__ import annotations

import json
import pathlib
import subprocess
import sys
import tempfile

# Runs in the child: one build, then the call's wall time and the process's peak RSS in KiB. The peak
# is VmHWM, not getrusage's ru_maxrss: that one starts from the parent's peak at fork.
CHILD = """
import re, sys, time
from cellkit._native import pack_from_coords_py
start = time.perf_counter()
pack_from_coords_py(["methane.json"], [1], [[0.0, 0.0, 0.0]], 10.0, force_field=sys.argv[1], out_dir="out")
seconds = time.perf_counter() - start
with open("/proc/self/status") as status:
    print(seconds, re.search(r"VmHWM:\\s*(\\d+) kB", status.read())[1])
"""

FORCE_FIELD = {
    "MixingRule": "Lorentz-Berthelot",
    "PseudoAtoms": [{"name": "CH4", "mass": 16.04, "charge": 0.0}],
    "SelfInteractions": [{"name": "CH4", "parameters": [148.0, 3.73]}],
}


def force_field_with(comment: str) -> str:
    """The force field with `comment` (JSON text) as the value of an unknown first key."""
    return '{"comment": ' + comment + ", " + json.dumps(FORCE_FIELD)[1:]


def filler(item: str, size: int) -> str:
    """A JSON array of `item` repeated to about `size` bytes."""
    return "[" + ",".join([item] * max(1, size // (len(item) + 1))) + "]"


def run(workdir: pathlib.Path, name: str, text: str) -> tuple[float, int]:
    """(seconds, peak RSS in bytes) of one build reading `text` as its force field."""
    (workdir / name).write_text(text)
    out = subprocess.run([sys.executable, "-c", CHILD, name], cwd=workdir, check=True, capture_output=True, text=True)
    seconds, kib = out.stdout.split()
    return float(seconds), int(kib) * 1024


def main() -> None:
    size = int(float(sys.argv[1] if len(sys.argv) > 1 else 50) * 1e6)
    with tempfile.TemporaryDirectory() as tmp:
        workdir = pathlib.Path(tmp)
        (workdir / "methane.json").write_text(json.dumps({"pseudoAtoms": [["CH4", [0, 0, 0]]]}))
        _, baseline = run(workdir, "small.json", force_field_with("[]"))
        print(f"baseline peak RSS {baseline / 1e6:.1f} MB")
        for label, item in (("[1,1,...]", "1"), ("[{},{},...]", "{}")):
            text = force_field_with(filler(item, size))
            seconds, peak = run(workdir, "big.json", text)
            print(f"{label:12} file {len(text) / 1e6:6.1f} MB  peak RSS {peak / 1e6:8.1f} MB "
                  f"(+{(peak - baseline) / 1e6:.1f} MB over baseline)  read+build {seconds:.3f} s")


if __name__ == "__main__":
    main()
