"""One periodic Packmol run against the default split into sub-boxes, for the same box.

Packs N rigid waters at 1000 kg/m³ with tolerance 2.0 for each N given: once by a single periodic
Packmol run (`jobs=1`) and once by the default split on this machine's cores (`jobs=None`), unless
`--split-only` is given. Prints per build the wall time from the call to the written files, the CPU
time Packmol used, and what the box is like: the thinnest 1-Å slab along any axis as a share of the
mean, and the closest pair of atoms of different molecules by the nearest image. The load average is
printed before and after, as other work on the machine slows both.

    PATH=$PWD/.venv/bin:$PATH .venv/bin/python bench/packmol_sub_boxes.py [--split-only] [N ...]
    (default: 20000 100000)
"""

from __future__ import annotations

import os
import pathlib
import resource
import shutil
import sys
import tempfile
import time

import numpy as np

from cellkit._parallel import pack_packmol
from cellkit.pdb import read_atoms

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def children_cpu() -> float:
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def thinnest_slab(xyz: np.ndarray, edge: float) -> float:
    """The fewest atoms in a 1-Å slab along any axis, over the mean of such a slab."""
    slabs = int(edge)
    mean = len(xyz) / edge
    return min(np.histogram(xyz[:, a] % edge, bins=slabs, range=(0, slabs))[0].min() / mean for a in range(3))


def closest_pair(xyz: np.ndarray, molecule: np.ndarray, edge: float, reach: float = 3.0) -> float:
    """The shortest distance by the nearest image between atoms of different molecules (up to `reach`)."""
    cells = max(int(edge // reach), 1)
    side = edge / cells
    wrapped = xyz % edge
    index = np.minimum((wrapped / side).astype(int), cells - 1)
    keys = (index[:, 0] * cells + index[:, 1]) * cells + index[:, 2]
    order = np.argsort(keys, kind="stable")
    starts = np.searchsorted(keys[order], np.arange(cells**3 + 1))
    best = reach
    for cell in range(cells**3):
        mine = order[starts[cell]:starts[cell + 1]]
        if not len(mine):
            continue
        c = np.array([cell // cells**2, cell // cells % cells, cell % cells])
        near = [order[starts[k]:starts[k + 1]]
                for d in np.ndindex(3, 3, 3)
                for k in [int((((c + np.array(d) - 1) % cells) * [cells**2, cells, 1]).sum())]]
        others = np.unique(np.concatenate(near))
        delta = wrapped[mine][:, None] - wrapped[others][None]
        delta -= edge * np.round(delta / edge)
        r = np.linalg.norm(delta, axis=2)
        r[molecule[mine][:, None] == molecule[others][None]] = reach
        best = min(best, float(r.min()))
    return best


def build(n: int, jobs: int | None, out_dir: pathlib.Path) -> tuple[float, float, str]:
    cpu, start = children_cpu(), time.perf_counter()
    summary = pack_packmol([str(EXAMPLES / "water.json")], [n], 1000.0, force_field=str(EXAMPLES / "force_field.json"),
                           out_dir=str(out_dir), tolerance=2.0, jobs=jobs)
    return time.perf_counter() - start, children_cpu() - cpu, summary


def main(sizes: list[int], split_only: bool) -> None:
    if shutil.which("packmol") is None:
        sys.exit("no packmol on PATH (activate the .venv, or put .venv/bin on PATH)")
    cores = len(os.sched_getaffinity(0))
    print(f"waters at 1000 kg/m³, tolerance 2.0; {cores} cores; load average {os.getloadavg()}")
    print(f"{'waters':>8} {'build':>22} {'wall s':>8} {'Packmol CPU s':>14} {'thinnest slab':>14}",
          f"{'closest pair Å':>15}")
    for n in sizes:
        walls = {}
        builds: list[tuple[str, int | None]] = [] if split_only else [("one periodic run", 1)]
        for label, jobs in builds + [(f"default, {cores} cores", None)]:
            with tempfile.TemporaryDirectory() as scratch:
                wall, cpu, summary = build(n, jobs, pathlib.Path(scratch))
                (edge, _, _), atoms = read_atoms(os.path.join(scratch, "data.lmp"))
            xyz = np.array([a[3:] for a in atoms])
            molecule = np.array([a[0] for a in atoms])
            warned = sum("packmol exited" in line for line in summary.splitlines())
            print(f"{n:>8} {label:>22} {wall:>8.1f} {cpu:>14.1f} {thinnest_slab(xyz, edge):>14.2f} "
                  f"{closest_pair(xyz, molecule, edge):>15.3f}"
                  + (f"  ({warned} Packmol runs did not reach the tolerance)" if warned else ""), flush=True)
            walls[label] = wall
        if len(walls) == 2:
            one, split = walls.values()
            print(f"{'':>8} {'speed-up':>22} {one / split:>8.2f}x")
    print(f"load average {os.getloadavg()}")


if __name__ == "__main__":
    args = sys.argv[1:]
    split_only = "--split-only" in args
    sizes = [int(a) for a in args if a != "--split-only"] or [20_000, 100_000]
    main(sizes, split_only)
