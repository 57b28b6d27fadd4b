"""Packmol packing by density with a choice of how many Packmol runs share the work.

`pack_packmol` is the one function that `cellkit.pack.packmol(..., jobs=N)` and the command
`cellkit pack packmol --jobs N` call: `jobs` passes through unchanged (None when not given).

- `jobs=1`: one Packmol run for the whole box, exactly `pack_packmol_py`.
- `jobs=N` (N >= 2): the box may be cut into a grid of sub-boxes, each packed by its own Packmol, at
  most N at once (`_pack_packmol_sub_boxes_py`), when that is faster than one run: the grid is the
  one Packmol's measured times say packs fastest on N runs at once, every sub-box at least 1,000
  molecules and two of the largest molecule wide; small boxes get the single run of `jobs=1`. The
  box is periodic and the sub-boxes fill it without gaps: round by round, each is packed once up to
  its faces, clear of the atoms its neighbours of earlier rounds put near them, so the tolerance
  holds across every face and no empty plane opens (`bench/README.md` has the measurements).
- `jobs=None` (the default): as `jobs=N` with N the cores this process may use.
"""

from __future__ import annotations

import operator
from collections.abc import Sequence
from typing import TYPE_CHECKING, Any, SupportsFloat, SupportsIndex

from ._native import PyPairSetup, _pack_packmol_sub_boxes_py, pack_packmol_py

if TYPE_CHECKING:
    from ._native import StarterSettings


def pack_packmol(
    species: Sequence[str],
    counts: Sequence[SupportsIndex],
    density: SupportsFloat | SupportsIndex | None,
    pair_style: PyPairSetup | None = PyPairSetup.ForceField,
    explicit_lb: bool = False,
    force_field: str = "force_field.json",
    out_dir: str = ".",
    tolerance: SupportsFloat | SupportsIndex = 2.0,
    jobs: SupportsIndex | None = None,
    lammps_input: StarterSettings | None = None,
    **shape: Any,
) -> str:
    """Packs the molecules at `density` (kg/m³) with Packmol and writes data.lmp and forcefield.lmp.

    The arguments but `jobs` are those of `pack_packmol_py` (`shape`: its aspect, box, vacuum,
    layers and seed; and progress, which only sub-boxes report to). `jobs` is the most Packmol runs
    at once: 1 for one run over the whole box, N >= 2 for sub-boxes, None for all available cores
    (see the module's text). Returns the build summary; raises as `pack_packmol_py` does, and
    ValueError or TypeError for a `jobs` that is not a positive integer.
    """
    args = (species, counts, density, pair_style, explicit_lb, force_field, out_dir, tolerance)
    if jobs is None:
        return _pack_packmol_sub_boxes_py(*args, jobs=0, lammps_input=lammps_input, **shape)
    progress = shape.pop("progress", None)  # one run has no sub-boxes to tell of
    if isinstance(jobs, bool):
        raise TypeError("jobs must be a positive integer, not bool")
    jobs = operator.index(jobs)
    if jobs < 1:
        raise ValueError(f"jobs must be at least 1, not {jobs}")
    if jobs == 1:
        return pack_packmol_py(*args, lammps_input=lammps_input, **shape)
    return _pack_packmol_sub_boxes_py(*args, jobs=jobs, lammps_input=lammps_input, progress=progress, **shape)
