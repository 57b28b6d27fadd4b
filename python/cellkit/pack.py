"""The ways to build a box, for Python callers: paths may be path objects, the pair style a
name, coordinates any (N, 3) array-like. Each returns the build summary text and raises
RuntimeError with the build's own message when it fails."""

from __future__ import annotations

import contextlib
import os
import shutil
import sys
import sysconfig
import tempfile
from collections.abc import Callable, Iterator, Sequence
from typing import TYPE_CHECKING, Any, NamedTuple, Protocol, SupportsFloat, SupportsIndex

from . import _native, _parallel
from ._native import PyPairSetup
from .raspa_init import DEFAULT_SEED as DEFAULT_SEED  # both routes' default: Packmol's own

if TYPE_CHECKING:
    from ._native import StarterSettings

__all__ = ["PAIR_STYLES", "Layer", "PairStyle", "from_coords", "gcmc", "layered", "packmol", "raspa", "pair_setup"]

# Command-line names of the pair styles: "force-field" is the force-field file's own model (its
# cut-offs, truncation, tail corrections and Ewald sum, as RASPA3 reads them), the others fixed
# presets; "none" leaves the pair style to the LAMMPS input.
PAIR_STYLES: dict[str, PyPairSetup | None] = {
    "force-field": PyPairSetup.ForceField,
    "lj-cut": PyPairSetup.LjCut,
    "lj-cut-coul-long": PyPairSetup.LjCutCoulLong,
    "tip4p": PyPairSetup.Tip4p,
    "none": None,
}

type StrPath = str | os.PathLike[str]
type PairStyle = PyPairSetup | str | None
type Number = SupportsFloat | SupportsIndex


class _ArrayLike(Protocol):
    """What NumPy arrays (and similar) offer: a conversion to nested lists."""

    def tolist(self) -> object: ...


type Coords = Sequence[Sequence[Number]] | _ArrayLike

type Edges = Sequence[Number]


class Layer(NamedTuple):
    """One liquid of a layered box: its molecule files, their counts, and its density (kg/m³)."""

    species: Sequence[StrPath]
    counts: Sequence[SupportsIndex]
    density: Number


def pair_setup(style: PairStyle) -> PyPairSetup | None:
    """The preset for a name of PAIR_STYLES (also "LjCut"-style attribute names) or a PyPairSetup."""
    if style is None or isinstance(style, PyPairSetup):
        return style
    if isinstance(style, str):
        if style in PAIR_STYLES:
            return PAIR_STYLES[style]
        preset = getattr(PyPairSetup, style, None)
        if isinstance(preset, PyPairSetup):
            return preset
        names = ", ".join(PAIR_STYLES)
        raise ValueError(f"unknown pair style {style!r}; expected one of {names} or a PyPairSetup")
    raise TypeError(f"pair_style must be a PyPairSetup, a name or None, not {type(style).__name__}")


def _paths(paths: StrPath | Sequence[StrPath], what: str) -> list[str]:
    # One path given alone would otherwise be read as a sequence of one-letter paths.
    if isinstance(paths, (str, os.PathLike)):
        raise TypeError(f"{what} must be a list of paths, not a single path")
    return [os.fsdecode(p) for p in paths]


def _starter(lammps_input: bool, temperature: Number, pressure: Number | None) -> StarterSettings | None:
    if not lammps_input:
        if pressure is not None:
            raise ValueError("pressure sets the NPT run of in.lammps: pass lammps_input=True as well")
        return None
    return (temperature, pressure)


def _coords(coords: Coords) -> Any:
    # The extension reads a C-contiguous float64 (N, 3) buffer in place; any other array is walked
    # faster as nested lists than element by element.
    try:
        with memoryview(coords) as view:  # type: ignore[arg-type]
            in_place = view.format in ("d", "<d", "=d") and view.c_contiguous and view.ndim == 2
    except TypeError:
        in_place = False
    if in_place:
        return coords
    tolist = getattr(coords, "tolist", None)
    return tolist() if callable(tolist) else coords


@contextlib.contextmanager
def environment_first_on_path() -> Iterator[None]:
    """Puts this environment's scripts directory (packmol) and an interpreter called `python` that
    is this one first on PATH while a build runs, so a virtual environment works without being
    activated. PATH is process-wide: builds from several threads at once see the same value."""
    dirs = [sysconfig.get_path("scripts"), os.path.dirname(sys.executable)]
    dirs = list(dict.fromkeys(d for d in dirs if d))
    with contextlib.ExitStack() as stack:
        python = shutil.which("python", path=os.pathsep.join(dirs))
        if python is None or not _same_file(python, sys.executable):
            # The RASPA3 route starts `python`; an interpreter installed as python3.12 only needs a link.
            link_dir = stack.enter_context(tempfile.TemporaryDirectory(prefix="cellkit-python-"))
            os.symlink(sys.executable, os.path.join(link_dir, "python"))
            dirs.insert(0, link_dir)
        old = os.environ.get("PATH")
        os.environ["PATH"] = os.pathsep.join([*dirs, *([old] if old else [])])
        try:
            yield
        finally:
            if old is None:
                del os.environ["PATH"]
            else:
                os.environ["PATH"] = old


def _same_file(a: str, b: str) -> bool:
    try:
        return os.path.samefile(a, b)
    except OSError:
        return False


def packmol(
    species: Sequence[StrPath],
    counts: Sequence[SupportsIndex],
    density: Number | None = None,
    pair_style: PairStyle = PyPairSetup.ForceField,
    explicit_lb: bool = False,
    force_field: StrPath = "force_field.json",
    out_dir: StrPath = ".",
    tolerance: Number = 2.0,
    jobs: SupportsIndex | None = None,
    lammps_input: bool = False,
    temperature: Number = 300.0,
    pressure: Number | None = None,
    aspect: Edges | None = None,
    box: Edges | None = None,
    vacuum: Number = 0.0,
    seed: SupportsIndex = DEFAULT_SEED,
    progress: Callable[[str], object] | None = None,
) -> str:
    """Packs the molecules with Packmol into a periodic box and writes data.lmp and forcefield.lmp
    into `out_dir`. The box holds their mass at `density` (kg/m³): a cube, or of edge ratios
    `aspect` along x, y and z (e.g. (1, 1, 3)); or it has the three edges of `box` (Å), and the
    density follows from the mass. `vacuum` (Å) makes a liquid slab: that much empty space along z,
    half below and half above the liquid. `tolerance` is
    Packmol's minimum distance between molecules (Å); `seed` starts its random numbers (the same seed,
    the same box; sub-boxes count on from it). `progress`, if given, is called with a line saying how
    a box packed in sub-boxes is cut and with one as each sub-box is packed. `jobs` is the most Packmol runs at once:
    1 packs the whole box in one run; N >= 2 cuts a box into sub-boxes packed side by side, N at
    once, where that is faster; None (the default) does so on all available cores. With
    `lammps_input`, in.lammps as well: a starter input that runs the box at `temperature` (K), NVT,
    or NPT at `pressure` (bar) when given. Ctrl-C ends Packmol and raises KeyboardInterrupt."""
    with environment_first_on_path():
        return _parallel.pack_packmol(
            _paths(species, "species"), counts, density, pair_setup(pair_style), explicit_lb,
            os.fsdecode(force_field), os.fsdecode(out_dir), tolerance, jobs=jobs,
            lammps_input=_starter(lammps_input, temperature, pressure), aspect=aspect, box=box, vacuum=vacuum,
            seed=seed, progress=progress,
        )


def layered(
    layers: Sequence[Layer],
    pair_style: PairStyle = PyPairSetup.ForceField,
    explicit_lb: bool = False,
    force_field: StrPath = "force_field.json",
    out_dir: StrPath = ".",
    tolerance: Number = 2.0,
    lammps_input: bool = False,
    temperature: Number = 300.0,
    pressure: Number | None = None,
    aspect: Edges | None = None,
    vacuum: Number = 0.0,
    seed: SupportsIndex = DEFAULT_SEED,
) -> str:
    """Packs liquids in layers stacked along z, in the order given, and writes data.lmp and
    forcefield.lmp: each `Layer` fills the whole x-y section at its own density, its thickness
    following from its mass; molecules of neighbouring layers stay `tolerance` apart. The whole
    stack has the edge ratios `aspect` (a cube when None); `vacuum` (Å) adds empty space along z,
    half below and half above. Packmol packs the box in one run. The other arguments are those of
    `packmol`. A water | hexane box::

        layered([Layer(["water.json"], [500], 1000), Layer(["hexane.json"], [100], 655)], aspect=(1, 1, 2))
    """
    species: list[str] = []
    counts: list[SupportsIndex] = []
    for layer in layers:
        species += _paths(layer.species, "species of a layer")
        counts += list(layer.counts)
        if len(layer.counts) != len(layer.species):
            raise ValueError(f"a layer has {len(layer.species)} species but {len(layer.counts)} counts")
    with environment_first_on_path():
        return _parallel.pack_packmol(
            species, counts, None, pair_setup(pair_style), explicit_lb, os.fsdecode(force_field),
            os.fsdecode(out_dir), tolerance, jobs=1, lammps_input=_starter(lammps_input, temperature, pressure),
            aspect=aspect, vacuum=vacuum, layers=[(len(layer.species), layer.density) for layer in layers],
            seed=seed,
        )


def raspa(
    species: Sequence[StrPath],
    counts: Sequence[SupportsIndex],
    density: Number | None,
    temperature: Number = 300.0,
    init_cycles: SupportsIndex = 1,
    equil_cycles: SupportsIndex = 1,
    prod_cycles: SupportsIndex = 1,
    pair_style: PairStyle = PyPairSetup.ForceField,
    explicit_lb: bool = False,
    force_field: StrPath = "force_field.json",
    out_dir: StrPath = ".",
    lammps_input: bool = False,
    pressure: Number | None = None,
    aspect: Edges | None = None,
    box: Edges | None = None,
    seed: SupportsIndex = DEFAULT_SEED,
) -> str:
    """Has RASPA3 build and equilibrate the box at `density` (kg/m³) and `temperature` (K), with the
    given numbers of initialisation, equilibration and production cycles, then writes data.lmp and
    forcefield.lmp into `out_dir`. The box is a cube, or has the edge ratios `aspect`, or the edges
    `box` (Å, with `density` None: it follows from the mass); slabs and layers are Packmol's. `seed`
    starts RASPA3's random numbers. With
    `lammps_input`, in.lammps as well: a starter input that runs the box at the same temperature,
    NVT, or NPT at `pressure` (bar) when given."""
    with environment_first_on_path():
        summary: str = _native.pack_raspa_py(
            _paths(species, "species"), counts, density, temperature, init_cycles, equil_cycles,
            prod_cycles, pair_setup(pair_style), explicit_lb, os.fsdecode(force_field), os.fsdecode(out_dir),
            lammps_input=_starter(lammps_input, temperature, pressure), aspect=aspect, box=box, seed=seed,
        )
        return summary


def gcmc(
    framework: StrPath,
    species: Sequence[StrPath],
    temperature: Number,
    pressure: Number,
    force_field: StrPath = "force_field.json",
    cells: Sequence[SupportsIndex] | None = None,
    init_cycles: SupportsIndex = 1000,
    prod_cycles: SupportsIndex = 1000,
    seed: SupportsIndex = DEFAULT_SEED,
    pair_style: PairStyle = PyPairSetup.ForceField,
    explicit_lb: bool = False,
    out_dir: StrPath = ".",
    lammps_input: bool = False,
) -> str:
    """Loads the framework of the CIF file `framework` with the molecules of `species` by RASPA3's
    grand-canonical Monte Carlo at `temperature` (K) and `pressure` (Pa), `init_cycles` then
    `prod_cycles`, in `cells` unit cells along a, b and c (by default the fewest whose widths are
    twice the cut-off), then writes data.lmp and forcefield.lmp of the loaded framework into
    `out_dir`: a tilted cell as LAMMPS's restricted triclinic box, the framework one molecule whose
    own pairs are left out, the guests whole. The CIF's sites are matched to the force field's
    "framework": true pseudo-atoms by label (as written, or without trailing digits). With
    `lammps_input`, in.lammps as well: the guests run NVT at `temperature`, the framework held still.
    Returns the build summary followed by the loading RASPA3 measured."""
    from .framework import read_framework
    from .gcmc import gcmc_with_raspa3, write_lammps

    guests = _paths(species, "species")
    # The CIF is read before RASPA3's library is loaded: in the other order gemmi crashes.
    read = read_framework(framework, force_field)
    loading = gcmc_with_raspa3(read, guests, force_field, float(temperature), float(pressure),
                               cells=None if cells is None else [int(n) for n in cells],
                               n_init_cycles=int(init_cycles), n_prod_cycles=int(prod_cycles), seed=int(seed))
    summary = write_lammps(loading, read, guests, force_field, out_dir, pair_setup(pair_style), explicit_lb,
                           _starter(lammps_input, temperature, None))
    return f"{summary.rstrip()}\n{loading}\n"


def from_coords(
    species: Sequence[StrPath],
    counts: Sequence[SupportsIndex],
    coords: Coords,
    box_len: Number | Sequence[Number],
    pair_style: PairStyle = PyPairSetup.ForceField,
    explicit_lb: bool = False,
    force_field: StrPath = "force_field.json",
    out_dir: StrPath = ".",
    lammps_input: bool = False,
    temperature: Number = 300.0,
    pressure: Number | None = None,
) -> str:
    """Writes data.lmp and forcefield.lmp for atoms whose positions (Å) you already have, one
    [x, y, z] per atom in species → molecule → atom order, in a box: `box_len` is a cube's edge or
    the three edges along x, y and z (Å).
    Rigid molecules are written in their template's exact shape, fitted onto the positions given.
    With `lammps_input`, in.lammps as well (see `packmol`)."""
    return _native.pack_from_coords_py(
        _paths(species, "species"), counts, _coords(coords), box_len,
        pair_setup(pair_style), explicit_lb, os.fsdecode(force_field), os.fsdecode(out_dir),
        lammps_input=_starter(lammps_input, temperature, pressure),
    )
