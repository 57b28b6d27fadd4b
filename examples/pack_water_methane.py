"""Packs 500 rigid SPC/E waters and 20 united-atom methanes at 1000 kg/m³ with Packmol and writes
data.lmp and forcefield.lmp into the directory given as the first argument (default: out)."""

import pathlib
import sys

from cellkit import PyPairSetup, pack_packmol_py

here = pathlib.Path(__file__).resolve().parent
out_dir = sys.argv[1] if len(sys.argv) > 1 else "out"
summary = pack_packmol_py(
    [str(here / "water.json"), str(here / "methane.json")],  # one molecule file per species
    [500, 20],  # molecules per species
    1000.0,  # density, kg/m³: sets the edge of the cubic box
    pair_style=PyPairSetup.LjCut,
    force_field=str(here / "force_field.json"),
    out_dir=out_dir,
)
print(summary, end="")
