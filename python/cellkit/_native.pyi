"""Native extension module of cellkit, imported as `cellkit._native`."""

from collections.abc import Buffer, Callable, Sequence
from typing import Any, ClassVar, SupportsFloat, SupportsIndex, final

# What in.lammps runs: (temperature in K, pressure in bar, None for NVT).
type StarterSettings = tuple[SupportsFloat | SupportsIndex, SupportsFloat | SupportsIndex | None]

@final
class PyPairSetup:
    """Python-exposed PairSetup enum"""

    Tip4p: ClassVar[PyPairSetup]
    LjCut: ClassVar[PyPairSetup]
    LjCutCoulLong: ClassVar[PyPairSetup]
    ForceField: ClassVar[PyPairSetup]
    __hash__: ClassVar[None]  # type: ignore[assignment]
    def __int__(self) -> int: ...
    def __eq__(self, other: object) -> bool: ...
    def __ne__(self, other: object) -> bool: ...

def pack_packmol_py(
    species: Sequence[str],
    counts: Sequence[SupportsIndex],
    density: SupportsFloat | SupportsIndex | None,
    pair_style: PyPairSetup | None = ...,
    explicit_lb: bool = False,
    force_field: str = ...,
    out_dir: str = ...,
    tolerance: SupportsFloat | SupportsIndex = 2.0,
    lammps_input: StarterSettings | None = None,
    aspect: Sequence[SupportsFloat | SupportsIndex] | None = None,
    box: Sequence[SupportsFloat | SupportsIndex] | None = None,
    vacuum: SupportsFloat | SupportsIndex = 0.0,
    layers: Sequence[tuple[SupportsIndex, SupportsFloat | SupportsIndex]] | None = None,
    seed: SupportsIndex = 1234567,
) -> str:
    """Pack with Packmol and write LAMMPS files."""

def _pack_packmol_sub_boxes_py(
    species: Sequence[str],
    counts: Sequence[SupportsIndex],
    density: SupportsFloat | SupportsIndex | None,
    pair_style: PyPairSetup | None = ...,
    explicit_lb: bool = False,
    force_field: str = ...,
    out_dir: str = ...,
    tolerance: SupportsFloat | SupportsIndex = 2.0,
    grid: Sequence[SupportsIndex] = (),
    jobs: SupportsIndex = 0,
    lammps_input: StarterSettings | None = None,
    aspect: Sequence[SupportsFloat | SupportsIndex] | None = None,
    box: Sequence[SupportsFloat | SupportsIndex] | None = None,
    vacuum: SupportsFloat | SupportsIndex = 0.0,
    layers: Sequence[tuple[SupportsIndex, SupportsFloat | SupportsIndex]] | None = None,
    seed: SupportsIndex = 1234567,
    progress: Callable[[str], object] | None = None,
) -> str:
    """Pack with Packmol in sub-boxes, several Packmol runs at once, and write LAMMPS files."""

def pack_from_coords_py(
    species: Sequence[str],
    counts: Sequence[SupportsIndex],
    coords: Sequence[Sequence[SupportsFloat | SupportsIndex]] | Buffer,
    box_len: SupportsFloat | SupportsIndex | Sequence[SupportsFloat | SupportsIndex],
    pair_style: PyPairSetup | None = ...,
    explicit_lb: bool = False,
    force_field: str = ...,
    out_dir: str = ...,
    lammps_input: StarterSettings | None = None,
) -> str:
    """Write LAMMPS files from **pre-computed** coordinates (used by the raspa path)."""

def pack_raspa_py(
    species: Sequence[str],
    counts: Sequence[SupportsIndex],
    density: SupportsFloat | SupportsIndex | None,
    temperature: SupportsFloat | SupportsIndex = 300.0,
    init_cycles: SupportsIndex = 1,
    equil_cycles: SupportsIndex = 1,
    prod_cycles: SupportsIndex = 1,
    pair_style: PyPairSetup | None = ...,
    explicit_lb: bool = False,
    force_field: str = ...,
    out_dir: str = ...,
    lammps_input: StarterSettings | None = None,
    aspect: Sequence[SupportsFloat | SupportsIndex] | None = None,
    box: Sequence[SupportsFloat | SupportsIndex] | None = None,
    vacuum: SupportsFloat | SupportsIndex = 0.0,
    layers: Sequence[tuple[SupportsIndex, SupportsFloat | SupportsIndex]] | None = None,
    seed: SupportsIndex = 1234567,
) -> str:
    """Pack with RASPA3 subprocess and write LAMMPS files."""

def _force_field_model_py(
    force_field: str, box_len: SupportsFloat | SupportsIndex | Sequence[SupportsFloat | SupportsIndex]
) -> dict[str, Any]:
    """The non-bonded model of a force-field file in a cubic box, as RASPA3 reads it."""

def _reader_keys_py() -> dict[str, list[tuple[str, bool]]]:
    """The keys the readers of the force-field and molecule files take, from their own tables."""
