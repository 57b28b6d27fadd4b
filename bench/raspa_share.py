"""Time of a RASPA3-route build split into the child interpreter's run and everything of ours around it.

A stand-in cellkit.raspa_init returns N waters at once (no RASPA3), run through a `python` wrapper
that logs when the interpreter starts and ends; our share is the rest of the call (loading, the
argument file, starting and waiting, reading raspa3_result.json, writing data.lmp and forcefield.lmp).

    .venv/bin/python bench/raspa_share.py [N ...]   (default: 1000 100000)
"""

from __future__ import annotations

import pathlib
import sys
import tempfile

from child_share import print_share
from cellkit import pack_raspa_py

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
STAND_IN = """
def pack_with_raspa3(*, counts, density, force_field_path, molecule_paths, n_equil_cycles, n_init_cycles,
                     n_prod_cycles, temperature):
    n = sum(counts) * 3
    return 100.0, [[i % 97 + 0.5, i % 89 + 0.25, i % 83 + 0.125] for i in range(n)]
"""


def main(sizes: list[int]) -> None:
    with tempfile.TemporaryDirectory() as scratch:
        scratch = pathlib.Path(scratch)
        (scratch / "stub" / "cellkit").mkdir(parents=True)
        (scratch / "stub" / "cellkit" / "__init__.py").write_text("")
        (scratch / "stub" / "cellkit" / "raspa_init.py").write_text(STAND_IN)
        command = f'PYTHONPATH="{scratch / "stub"}" "{sys.executable}" "$@"'
        print_share(scratch, "python", command, "child", sizes, lambda n: pack_raspa_py(
            [str(EXAMPLES / "water.json")], [n], 1000.0, out_dir=str(scratch / "out"),
            force_field=str(EXAMPLES / "force_field.json")))


if __name__ == "__main__":
    main([int(a) for a in sys.argv[1:]] or [1000, 100000])
