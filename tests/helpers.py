"""Helpers shared by the Python tests: a LAMMPS runner, molecule geometry builders, lattice layouts, process checks."""

import json
import math
import os
import pathlib
import re
import signal
import subprocess
import threading
import time
from collections import namedtuple

import numpy as np
import pytest

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
KCAL_PER_K = 0.0019872041  # kcal/mol per kelvin (Boltzmann constant)
# Warnings that any input of this kind draws from LAMMPS (a 'run 0' without integrator; TIP4P's
# communication cutoff); anything else, such as a charge-neutrality warning, is reported.
BENIGN_WARNINGS = ("No fixes with time integration", "Communication cutoff 0 is shorter",
                   "Increasing communication cutoff")
# thermo: the line of 'run 0'; counts: atoms, bonds, angles, dihedrals as read_data reports them
LammpsRun = namedtuple("LammpsRun", "output thermo counts warnings")


def raspa3_examples_dir() -> pathlib.Path:
    """$CELLKIT_RASPA3_EXAMPLES, else the nearest shared/raspa3-examples above the repository; skips if absent."""
    env = os.environ.get("CELLKIT_RASPA3_EXAMPLES")
    for c in [pathlib.Path(env)] if env else [p / "shared" / "raspa3-examples" for p in EXAMPLES.parents]:
        if c.is_dir():
            return c
    pytest.skip("no RASPA3 example inputs on this machine")


def lammps_verdict(lmp: str, workdir: pathlib.Path, script: str) -> tuple[bool, str]:
    """Runs a LAMMPS input in workdir; (accepted, LAMMPS's output)."""
    (workdir / "in.lmp").write_text(script)
    proc = subprocess.run([lmp, "-log", "none", "-nocite", "-in", "in.lmp"], cwd=workdir, stdin=subprocess.DEVNULL,
                          env=dict(os.environ, OMP_NUM_THREADS="1"), capture_output=True, text=True, errors="replace",
                          timeout=300)
    out = proc.stdout + proc.stderr
    return proc.returncode == 0 and not re.search(r"^ERROR", out, re.M), out


def run_lammps(lmp: str, workdir: pathlib.Path, script: str) -> LammpsRun:
    """Runs a LAMMPS input in workdir and fails the test with LAMMPS's output if it is rejected."""
    accepted, out = lammps_verdict(lmp, workdir, script)
    assert accepted, f"LAMMPS rejected the input:\n{out[-4000:]}"
    counts = {m[2]: int(m[1]) for m in re.finditer(r"^\s+(\d+) (atoms|bonds|angles|dihedrals)\s*$", out, re.M)}
    lines = out.splitlines()
    h = next(i for i, line in enumerate(lines) if line.split()[:1] == ["Step"])
    warnings = [w for w in lines if w.startswith("WARNING") and not any(b in w for b in BENIGN_WARNINGS)]
    return LammpsRun(out, dict(zip(lines[h].split(), map(float, lines[h + 1].split()))), counts, warnings)


def lammps_script(pair_setup: str = "", thermo: str = "step atoms pe ebond eangle edihed evdwl ecoul elong") -> str:
    """Reads data.lmp and forcefield.lmp, evaluates the energy once; pair_setup precedes the include."""
    return (f"units real\natom_style full\nread_data data.lmp\n{pair_setup}\ninclude forcefield.lmp\n"
            f"thermo_style custom {thermo}\nthermo_modify format float %.15g\nrun 0\n")


def foretold_refusals(summary: str) -> list[str]:
    """The warnings of a build summary that say LAMMPS will refuse the files."""
    return [line for line in summary.splitlines()
            if line.startswith("warning:") and re.search(r"LAMMPS (will )?refuse", line)]


def thinnest_slab(xyz: np.ndarray, edge: float) -> float:
    """The fewest atoms in a 1-Å slab of the periodic box along any axis, over the mean of such a slab."""
    slabs = int(edge)
    return min(np.histogram(xyz[:, a] % edge, bins=slabs, range=(0, slabs))[0].min() / (len(xyz) / edge)
               for a in range(3))


def write_json(path: pathlib.Path, doc: dict) -> str:
    path.write_text(json.dumps(doc, indent=1))
    return str(path)


def template(molecule_file: str | pathlib.Path) -> np.ndarray:
    """The template positions of a molecule file, shape (atoms, 3)."""
    return np.array([pos for _, pos in json.loads(pathlib.Path(molecule_file).read_text())["pseudoAtoms"]], float)


def chain(bonds, angles_deg, dihedrals_deg) -> np.ndarray:
    """Positions of a linear chain from its bond lengths, bend angles and dihedrals (180 = trans)."""
    # Two guide points ahead of the chain put atom 1 on the x axis and atom 2 in the xy plane (y > 0).
    pos = [np.array([1.0, 1.0, 0.0]), np.array([0.0, 1.0, 0.0]), np.zeros(3)]
    for i, bond in enumerate(bonds):
        th, ph = math.radians(angles_deg[i - 1] if i else 90.0), math.radians(dihedrals_deg[i - 2] if i > 1 else 0.0)
        a, b, c = pos[-3:]
        bc = (c - b) / np.linalg.norm(c - b)
        normal = np.cross(b - a, bc) / np.linalg.norm(np.cross(b - a, bc))
        local = bond * np.array([-math.cos(th), math.sin(th) * math.cos(ph), math.sin(th) * math.sin(ph)])
        pos.append(c + np.column_stack([bc, np.cross(normal, bc), normal]) @ local)
    return np.array(pos[2:])


def zigzag(n_atoms: int, bond: float = 1.54, angle: float = 114.0) -> np.ndarray:
    """An all-trans chain."""
    return chain([bond] * (n_atoms - 1), [angle] * (n_atoms - 2), [180.0] * (n_atoms - 3))


def bonded_terms(n: int, pairs) -> tuple[list, list]:
    """Angles (i, j, k) and dihedrals (i, j, k, l) that the bonds imply, three-membered rings having none."""
    nbr = [[b if a == j else a for a, b in pairs if j in (a, b)] for j in range(n)]
    angles = [(nb[p], j, nb[q]) for j, nb in enumerate(nbr) for p in range(len(nb)) for q in range(p + 1, len(nb))]
    dihedrals = [(i, j, k, l) for j, k in pairs for i in nbr[j] if i != k for l in nbr[k] if l not in (j, i)]
    return angles, dihedrals


def ticks_during(call, period: float = 0.001) -> int:
    """How often another thread woke every `period` s while `call()` ran: none if the call held the lock."""
    ticks, done = [], threading.Event()
    counter = threading.Thread(target=lambda: [ticks.append(1) for _ in iter(lambda: done.wait(period), True)])
    counter.start()
    try:
        before = len(ticks)
        call()
        return len(ticks) - before
    finally:
        done.set()
        counter.join()


def exact_in_data_file(x: np.ndarray) -> np.ndarray:
    """Rounds to the 7 significant digits that data.lmp keeps, so LAMMPS sees these exact positions."""
    return np.vectorize(lambda v: float(f"{v:.6e}"))(x)


def lattice(molecules: list[np.ndarray], spacing: float) -> tuple[list[list[float]], float]:
    """Centres each molecule (in the order given) on its own site of a cubic lattice; (atom positions, box edge)."""
    side = max(1, math.ceil(round(len(molecules) ** (1 / 3), 9)))
    sites = ((np.array([s % side, s // side % side, s // side**2]) + 0.5) * spacing for s in range(len(molecules)))
    return [p for mol, c in zip(molecules, sites) for p in (mol - mol.mean(axis=0) + c).tolist()], side * spacing


def process_gone(pid: int) -> bool:
    """True once the process has ended (a zombie awaiting its parent counts as ended)."""
    try:
        return pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()[0] == "Z"
    except FileNotFoundError:
        return True


def ends(call, exc, ctrl_c_after=None):
    """What `call` raised and the seconds it took, with a Ctrl-C sent `ctrl_c_after` s in if given. The signal
    comes from another thread, which runs only while the call has released the interpreter lock."""
    timer = threading.Timer(ctrl_c_after or 0, os.kill, (os.getpid(), signal.SIGINT))
    started = time.monotonic()
    if ctrl_c_after:
        timer.start()
    try:
        with pytest.raises(exc) as info:
            call()
        return info.value, time.monotonic() - started
    finally:
        timer.cancel()
