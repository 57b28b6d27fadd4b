"""Shared by the *_share benchmarks: a call's time split into one child program's run and the rest."""

from __future__ import annotations

import os
import pathlib
import time
from typing import Callable

REPEATS = 3


def print_share(scratch: pathlib.Path, name: str, command: str, label: str, sizes: list[int],
                build: Callable[[int], str]) -> None:
    """Puts a wrapper called `name` first on PATH that runs `command` (shell text, "$@" passed on) and
    logs when it starts and ends; prints, per size, the best of REPEATS calls of build(size) by our share."""
    log = scratch / f"{name}.log"
    wrapper = scratch / "bin" / name
    wrapper.parent.mkdir()
    wrapper.write_text(f'#!/bin/sh\ns=$(date +%s.%N)\n{command}\nrc=$?\necho "$s $(date +%s.%N)" >> "{log}"\nexit $rc\n')
    wrapper.chmod(0o755)
    os.environ["PATH"] = f"{wrapper.parent}{os.pathsep}{os.environ['PATH']}"

    print(f"{'waters':>7} {'total s':>9} {label + ' s':>10} {'ours s':>8} {'ours %':>7}")
    for n in sizes:
        best = None
        for _ in range(REPEATS):
            log.unlink(missing_ok=True)
            start = time.perf_counter()
            summary = build(n)
            total = time.perf_counter() - start
            began, ended = map(float, log.read_text().split())
            child = ended - began
            if f"warning: {name} exited" in summary:
                print(f"  ({name} exited unsuccessfully for {n})")
            if best is None or total - child < best[0] - best[1]:
                best = (total, child)
        total, child = best
        ours = total - child
        print(f"{n:>7} {total:>9.3f} {child:>10.3f} {ours:>8.3f} {100 * ours / total:>6.2f}%")
