"""One Packmol run against sub-boxes packed side by side, for the same box.

Packs N rigid waters at 1000 kg/m³ with tolerance 2.0 twice, in one go: once by a single Packmol
run (`jobs=1`) and once in sub-boxes on this machine's cores (`jobs=None`), and prints the wall
time of each build, the CPU time Packmol used, and the speed-up. Both builds have the same box
edge, hence the same density, and the same tolerance. The load average is printed before and
after, as other work on the machine slows both.

    PATH=$PWD/.venv/bin:$PATH .venv/bin/python bench/packmol_sub_boxes.py [N]   (default: 100000)
"""

from __future__ import annotations

import os
import pathlib
import resource
import shutil
import sys
import tempfile
import time

from cellkit._parallel import pack_packmol

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def build(n: int, jobs: int | None, out_dir: pathlib.Path) -> tuple[float, float, str]:
    cpu, start = children_cpu(), time.perf_counter()
    summary = pack_packmol([str(EXAMPLES / "water.json")], [n], 1000.0, force_field=str(EXAMPLES / "force_field.json"),
                           out_dir=str(out_dir), tolerance=2.0, jobs=jobs)
    return time.perf_counter() - start, children_cpu() - cpu, summary


def main(n: int) -> None:
    if shutil.which("packmol") is None:
        sys.exit("no packmol on PATH (activate the .venv, or put .venv/bin on PATH)")
    cores = len(os.sched_getaffinity(0))
    print(f"{n} waters at 1000 kg/m³, tolerance 2.0; {cores} cores; load average {os.getloadavg()}")
    results = {}
    with tempfile.TemporaryDirectory() as scratch:
        for label, jobs in (("one run", 1), (f"sub-boxes, {cores} at once", None)):
            wall, cpu, summary = build(n, jobs, pathlib.Path(scratch) / label)
            box = next(line for line in summary.splitlines() if line.startswith("box:"))
            warned = [line for line in summary.splitlines() if "packmol exited" in line]
            print(f"{label:>24}: {wall:8.1f} s wall, {cpu:8.1f} s Packmol CPU  | {box.split('|')[0].strip()}"
                  + (f"  ({len(warned)} Packmol runs did not reach the tolerance)" if warned else ""))
            results[label] = (wall, cpu)
    (one, one_cpu), (split, split_cpu) = results.values()
    # Under load the cores are shared with others; the CPU ratio is what the split itself saves.
    print(f"speed-up: {one / split:.2f}x (Packmol CPU time {one_cpu / split_cpu:.2f}x less); "
          f"load average {os.getloadavg()}")


if __name__ == "__main__":
    main(int(sys.argv[1]) if len(sys.argv) > 1 else 100_000)
