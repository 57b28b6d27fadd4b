"""Time of a Packmol build split into Packmol's own run and everything of ours around it.

Packs N rigid waters at 1000 kg/m³ (tolerance 2.0) with the real packmol, run through a wrapper
that logs when the program itself starts and ends; our share is the rest of the call (loading,
templates, script, starting and waiting, reading simbox.pdb, writing data.lmp and forcefield.lmp).

    PATH=.venv/bin:$PATH .venv/bin/python bench/packmol_share.py [N ...]   (default: 1000 10000)
"""

from __future__ import annotations

import pathlib
import shutil
import sys
import tempfile

from child_share import print_share
from cellkit import pack_packmol_py

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"


def main(sizes: list[int]) -> None:
    real = shutil.which("packmol")
    if real is None:
        sys.exit("no packmol on PATH (activate the .venv, or put .venv/bin on PATH)")
    with tempfile.TemporaryDirectory() as scratch:
        scratch = pathlib.Path(scratch)
        print_share(scratch, "packmol", f'"{real}"', "packmol", sizes, lambda n: pack_packmol_py(
            [str(EXAMPLES / "water.json")], [n], 1000.0, out_dir=str(scratch / "out"),
            force_field=str(EXAMPLES / "force_field.json")))


if __name__ == "__main__":
    main([int(a) for a in sys.argv[1:]] or [1000, 10000])
