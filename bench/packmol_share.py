"""Time of a Packmol build split into Packmol's own run and everything of ours around it.

Packs N rigid waters at 1000 kg/m³ (tolerance 2.0) with the real packmol, run through a wrapper
that logs when the program itself starts and ends; our share is the rest of the call (loading,
templates, script, starting and waiting, reading simbox.pdb, writing data.lmp and forcefield.lmp).

    PATH=.venv/bin:$PATH .venv/bin/python bench/packmol_share.py [N ...]   (default: 1000 10000)
"""

from __future__ import annotations

import os
import pathlib
import shutil
import sys
import tempfile
import time

from cellkit import pack_packmol_py

EXAMPLES = pathlib.Path(__file__).resolve().parent.parent / "examples"
REPEATS = 3


def main(sizes: list[int]) -> None:
    real = shutil.which("packmol")
    if real is None:
        sys.exit("no packmol on PATH (activate the .venv, or put .venv/bin on PATH)")
    with tempfile.TemporaryDirectory() as scratch:
        scratch = pathlib.Path(scratch)
        log = scratch / "packmol.log"
        wrapper = scratch / "bin" / "packmol"
        wrapper.parent.mkdir()
        wrapper.write_text(
            f'#!/bin/sh\ns=$(date +%s.%N)\n"{real}"\nrc=$?\necho "$s $(date +%s.%N)" >> "{log}"\nexit $rc\n'
        )
        wrapper.chmod(0o755)
        os.environ["PATH"] = f"{wrapper.parent}{os.pathsep}{os.environ['PATH']}"

        print(f"{'waters':>7} {'total s':>9} {'packmol s':>10} {'ours s':>8} {'ours %':>7}")
        for n in sizes:
            best = None
            for _ in range(REPEATS):
                log.unlink(missing_ok=True)
                start = time.perf_counter()
                summary = pack_packmol_py([str(EXAMPLES / "water.json")], [n], 1000.0, out_dir=str(scratch / "out"),
                                          force_field=str(EXAMPLES / "force_field.json"))
                total = time.perf_counter() - start
                began, ended = map(float, log.read_text().split())
                packmol = ended - began
                if "warning: packmol exited" in summary:
                    print(f"  (packmol did not reach the tolerance for {n})")
                if best is None or total - packmol < best[0] - best[1]:
                    best = (total, packmol)
            total, packmol = best
            ours = total - packmol
            print(f"{n:>7} {total:>9.3f} {packmol:>10.3f} {ours:>8.3f} {100 * ours / total:>6.2f}%")


if __name__ == "__main__":
    main([int(a) for a in sys.argv[1:]] or [1000, 10000])
