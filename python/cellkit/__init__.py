"""LAMMPS data and force-field files from RASPA3-style JSON inputs."""

from importlib.metadata import PackageNotFoundError, version

from ._native import PyPairSetup, pack_from_coords_py, pack_packmol_py, pack_raspa_py

try:
    __version__ = version("cellkit")
except PackageNotFoundError:  # imported from a source tree that was never installed
    __version__ = "0+unknown"

__all__ = ["PyPairSetup", "__version__", "pack_from_coords_py", "pack_packmol_py", "pack_raspa_py"]
