"""Time of a RASPA3-route build split into the child interpreter's run and everything of ours around it.

A stand-in cellkit.raspa_init returns N waters at once (no RASPA3), run through a `python` wrapper
that logs when the interpreter starts and ends; our share is the rest of the call (loading, the
argument file, starting and waiting, reading raspa3_result.json, writing data.lmp and forcefield.lmp).

    .venv/bin/python bench/raspa_share.py [N ...]   (default: 1000 100000)
"""

from __future__ import annotations

import os
import pathlib
import sys
import tempfile
import time

from cellkit import pack_raspa_py

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
REPEATS = 3
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
        log = scratch / "python.log"
        wrapper = scratch / "bin" / "python"
        wrapper.parent.mkdir()
        wrapper.write_text(
            f'#!/bin/sh\ns=$(date +%s.%N)\nPYTHONPATH="{scratch / "stub"}" "{sys.executable}" "$@"\nrc=$?\n'
            f'echo "$s $(date +%s.%N)" >> "{log}"\nexit $rc\n'
        )
        wrapper.chmod(0o755)
        os.environ["PATH"] = f"{wrapper.parent}{os.pathsep}{os.environ['PATH']}"

        print(f"{'waters':>7} {'total s':>9} {'child s':>9} {'ours s':>8} {'ours %':>7}")
        for n in sizes:
            best = None
            for _ in range(REPEATS):
                log.unlink(missing_ok=True)
                start = time.perf_counter()
                pack_raspa_py([str(EXAMPLES / "water.json")], [n], 1000.0, out_dir=str(scratch / "out"),
                              force_field=str(EXAMPLES / "force_field.json"))
                total = time.perf_counter() - start
                began, ended = map(float, log.read_text().split())
                child = ended - began
                if best is None or total - child < best[0] - best[1]:
                    best = (total, child)
            total, child = best
            ours = total - child
            print(f"{n:>7} {total:>9.3f} {child:>9.3f} {ours:>8.3f} {100 * ours / total:>6.2f}%")


if __name__ == "__main__":
    main([int(a) for a in sys.argv[1:]] or [1000, 100000])
