"""The documentation: it builds without a warning, its tutorial runs, and its format reference lists every
key the readers take."""

from __future__ import annotations

import os
import re
import shutil
import subprocess
import sys
import types

import pytest

from cellkit import _native
from helpers import EXAMPLES

DOCS = EXAMPLES.parent / "docs"


def test_the_pages_build_without_a_warning(tmp_path):
    proc = subprocess.run([sys.executable, "-m", "sphinx", "-W", "--keep-going", "-q", "-b", "html", str(DOCS),
                           str(tmp_path / "html")], capture_output=True, text=True, timeout=600)
    assert proc.returncode == 0, proc.stdout + proc.stderr


def python_blocks(page: str) -> list[str]:
    return re.findall(r"^```python\n(.*?)^```", (DOCS / page).read_text(), re.S | re.M)


def test_the_tutorial_runs(tmp_path, monkeypatch, capsys):
    shutil.copytree(EXAMPLES, tmp_path / "examples")
    monkeypatch.chdir(tmp_path)
    monkeypatch.setenv("PATH", os.pathsep.join([os.path.dirname(sys.executable), os.environ["PATH"]]))
    blocks = python_blocks("tutorial.md")
    assert len(blocks) >= 5
    namespace = types.ModuleType("tutorial").__dict__
    for number, block in enumerate(blocks, start=1):
        try:
            exec(compile(block, f"tutorial.md, block {number}", "exec"), namespace)
        except Exception as e:  # noqa: BLE001 - named with its block
            pytest.fail(f"tutorial.md, block {number} raised {type(e).__name__}: {e}\n{block}")
    printed = capsys.readouterr().out
    assert "box: " in printed and "layers along z: water" in printed and "liquid slab along z" in printed


def test_the_format_reference_lists_every_key_the_readers_take():
    page = (DOCS / "formats.md").read_text()
    missing = []
    for record, keys in _native._reader_keys_py().items():
        section = re.search(rf"^### {re.escape(record)}\n(.*?)(?=^#{{1,3}} |\Z)", page, re.S | re.M)
        assert section, f"formats.md has no section '### {record}'"
        listed = set(re.findall(r"^\|\s*`([^`]+)`", section[1], re.M))
        missing += [f"{record}: {key}" for key, _ in keys if key not in listed]
    assert missing == [], "keys the readers take but formats.md does not list"
