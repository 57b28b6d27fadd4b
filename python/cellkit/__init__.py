"""LAMMPS data and force-field files from RASPA3-style JSON inputs.

`cellkit.pack` has the three ways to build a box (`packmol`, `raspa`, `from_coords`);
`cellkit.check` has LAMMPS read the result. The command `cellkit` offers both."""

from importlib.metadata import PackageNotFoundError, version

from ._native import PyPairSetup, pack_from_coords_py, pack_packmol_py, pack_raspa_py

try:
    __version__ = version("cellkit")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0+unknown"

from . import pack  # noqa: E402  (after __version__, which the command takes from here)

__all__ = ["PyPairSetup", "__version__", "pack", "pack_from_coords_py", "pack_packmol_py", "pack_raspa_py"]
