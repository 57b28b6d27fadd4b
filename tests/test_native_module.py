"""The extension module as Python sees it: class, binding, conversions, errors."""

import gc
import importlib.metadata
import os
import pathlib
import sys
import weakref

import numpy as np
import pytest

import cellkit
from cellkit import _native
from cellkit._native import PyPairSetup as P, pack_from_coords_py, pack_packmol_py, pack_raspa_py
from helpers import ticks_during, write_json

MISSING_FF = os.fsdecode(b"no_such_dir/force_field\xff.json")  # shown with U+FFFD for the stray byte
# Valid in shape; the force field does not exist, so a call that gets past argument conversion fails in the loader.
BASE = {pack_from_coords_py: dict(coords=[[0.0, 0.0, 0.0]], box_len=10.0), pack_packmol_py: dict(density=1e3),
        pack_raspa_py: dict(density=1e3)}


def call(entry=pack_from_coords_py, **override):
    return entry(**{"species": ["a.json"], "counts": [1], "force_field": MISSING_FF, **BASE[entry], **override})


def test_pair_setup_behaviour():
    assert [repr(P.Tip4p), repr(P.LjCut), str(P.LjCutCoulLong), int(P.Tip4p), int(P.LjCut), int(P.LjCutCoulLong),
            P.__doc__, P.__module__, P.__qualname__] == ["PyPairSetup.Tip4p", "PyPairSetup.LjCut",
        "PyPairSetup.LjCutCoulLong", 0, 1, 2, "Python-exposed PairSetup enum", "cellkit._native", "PyPairSetup"]
    assert [P.Tip4p == 0, 1 == P.LjCut, P.LjCut == np.int64(1), P.LjCut == True, P.LjCut == P.LjCut,  # noqa: E712
            P.LjCut is P.LjCut, P.Tip4p == P.LjCut, P.Tip4p != P.LjCut, P.Tip4p != "Tip4p", P.LjCut == 1.0,
            P.LjCut == 2**64 + 1, P.LjCut != -(2**70)] == [True] * 6 + [False, True, True, False, False, True]
    for refused in [lambda: P.Tip4p < P.LjCut, lambda: P.LjCut >= 0, lambda: hash(P.Tip4p), lambda: P(),
                    lambda: setattr(P, "LjCut", P.Tip4p), lambda: type("Sub", (P,), {})]:
        pytest.raises(TypeError, refused)


def test_module_surface():
    assert _native.__doc__ == "Native extension module of cellkit, imported as `cellkit._native`."
    assert [n for n in vars(_native) if not n.startswith("_")] == [  # private helpers of the Python layer aside
        "PyPairSetup", "pack_packmol_py", "pack_from_coords_py", "pack_raspa_py"]
    assert cellkit.__version__ == importlib.metadata.version("cellkit")
    assert (cellkit.PyPairSetup, cellkit.pack_from_coords_py) == (P, pack_from_coords_py)


COMMON = "pair_style=..., explicit_lb=False, force_field=..., out_dir=..."
SHAPE = "aspect=None, box=None, vacuum=0.0, layers=None, seed=1234567"


@pytest.mark.parametrize("entry, signature, doc", [
    (pack_from_coords_py, f"species, counts, coords, box_len, {COMMON}, lammps_input=None",
     "Write LAMMPS files from **pre-computed** coordinates (used by the raspa path).\n"),
    (pack_packmol_py, f"species, counts, density, {COMMON}, tolerance=2.0, lammps_input=None, {SHAPE}",
     "Pack with Packmol and write LAMMPS files.\n\nCalled by the package's Python function `cellkit.pack.packmol`.\n"),
    (_native._pack_packmol_sub_boxes_py, f"species, counts, density, {COMMON}, tolerance=2.0, grid=(), jobs=0, "
     f"lammps_input=None, {SHAPE}, progress=None",
     "Pack with Packmol in sub-boxes, several Packmol runs at once, and write LAMMPS files.\n"),
    (pack_raspa_py, f"species, counts, density, temperature=300.0, init_cycles=1, equil_cycles=1, prod_cycles=1, "
     f"{COMMON}, lammps_input=None, {SHAPE}", "Pack with RASPA3 subprocess and write LAMMPS files.\n\nCalled by the \"pack raspa\" command of "
     "the package's command-line tool.\nThis wraps the raspa3_pack_subprocess call for Python users.\n"),
])
def test_entry_signature_and_doc(entry, signature, doc):
    assert entry.__text_signature__ == f"({signature})"
    assert entry.__doc__.startswith(doc)


def test_binding_errors_name_the_function():  # the rest of the wording is CPython's
    with pytest.raises(TypeError, match=r"^pack_from_coords_py\(\) "):
        pack_from_coords_py(["a.json"], [1], [])


SHAPE = "coords[{}] has {} elements; expected [x, y, z]"
ENTRIES = {"coords": pack_from_coords_py, "packmol": pack_packmol_py, "raspa": pack_raspa_py}


# Our own wordings are pinned; None marks a conversion whose wording is CPython's. A failing conversion is
# noted with its parameter; the coordinate shape error (param None) has no note.
@pytest.mark.parametrize("entry, override, exc, message, param", [
    ("coords", {"species": "a.json"}, TypeError, "Can't extract `str` to `Vec`", "species"),
    ("coords", {"species": ["a.json", 3]}, TypeError, "'int' object is not an instance of 'str'", "species"),
    ("coords", {"species": {"a.json"}}, TypeError, "'set' object is not an instance of 'Sequence'", "species"),
    ("coords", {"counts": [1.0]}, TypeError, None, "counts"),
    ("coords", {"coords": [[0, 0, "x"]]}, TypeError, None, "coords"),
    # Bytes-like rows would read as small integers (b"abc" as 97, 98, 99).
    ("coords", {"coords": [b"abc"]}, TypeError, "Can't extract `bytes` to `Vec`", "coords"),
    ("coords", {"coords": [bytearray(b"abc")]}, TypeError, "Can't extract `bytearray` to `Vec`", "coords"),
    ("coords", {"coords": [memoryview(b"abc")]}, TypeError, "Can't extract `memoryview` to `Vec`", "coords"),
    ("coords", {"coords": [0.0]}, TypeError, "'float' object is not an instance of 'Sequence'", "coords"),
    ("coords", {"box_len": "10"}, TypeError, None, "box_len"),
    ("coords", {"pair_style": 1}, TypeError, "'int' object is not an instance of 'PyPairSetup'", "pair_style"),
    ("coords", {"explicit_lb": 1}, TypeError, "'int' object is not an instance of 'bool'", "explicit_lb"),
    ("coords", {"out_dir": "a\0b"}, ValueError, None, "out_dir"),
    # The first failing parameter is the one reported.
    ("coords", {"counts": [-1], "explicit_lb": 0}, OverflowError, None, "counts"),
    # Conversion errors of later parameters come before the coordinate shape check.
    ("coords", {"coords": [[1, 2]], "out_dir": 5}, TypeError, "'int' object is not an instance of 'str'", "out_dir"),
    ("coords", {"coords": [[1, 2], [0, 0, "x"]]}, TypeError, None, "coords"),
    ("coords", {"coords": [[0, 0, 0], [1, 2]]}, ValueError, SHAPE.format(1, 2), None),
    ("coords", {"coords": [[]]}, ValueError, SHAPE.format(0, 0), None),
    ("coords", {"coords": [(0, 0, 0, 0), [1]]}, ValueError, SHAPE.format(0, 4), None),
    ("coords", {"coords": np.zeros((2, 4))}, ValueError, SHAPE.format(0, 4), None),
    ("packmol", {"tolerance": None}, TypeError, None, "tolerance"),
    ("packmol", {"out_dir": pathlib.Path("o")}, TypeError, "'PosixPath' object is not an instance of 'str'", "out_dir"),
    ("raspa", {"init_cycles": -1}, OverflowError, None, "init_cycles"),
])
def test_conversion_failures(entry, override, exc, message, param):
    with pytest.raises(exc) as info:
        call(ENTRIES[entry], **override)
    assert type(info.value) is exc and (message is None or str(info.value) == message)
    assert getattr(info.value, "__notes__", None) == (param and [f"while processing '{param}'"])


@pytest.mark.parametrize("override", [
    {"species": ("a.json",), "counts": (1,)}, {"counts": np.array([1], dtype=np.uint64)}, {"coords": [(1, 2, 3)]},
    {"coords": ((np.float32(1), 2.5, True),)}, {"coords": np.zeros((1, 3))}, {"coords": []}, {"box_len": 10},
    {"box_len": np.float64(10)}, {"pair_style": None}, {"pair_style": P.Tip4p}, {"explicit_lb": True},
    {"explicit_lb": np.bool_(False)}])
def test_accepted_inputs_reach_the_loader(override):
    with pytest.raises(RuntimeError) as e:
        call(**override)
    assert (str(e.value), hasattr(e.value, "__notes__")) == (
        "reading no_such_dir/force_field\ufffd.json: No such file or directory", False)


def test_no_crash_when_conversion_mutates_the_arguments():
    coords = []
    shrinker = type("Shrinker", (), {"__float__": lambda self: coords.clear() or 1.0})()
    coords.extend([[shrinker, 0.0, 0.0], [1.0, 2.0, 3.0]] * 3)
    with pytest.raises(RuntimeError):
        call(coords=coords)


def test_arguments_are_released():
    row, num = type("Row", (list,), {})([0.0, 0.0, 0.0]), type("Num", (), {"__float__": lambda self: 1.0})()
    refs, name = [weakref.ref(row), weakref.ref(num)], "".join(["a", ".json"])
    before = sys.getrefcount(name)
    for override in [{"coords": [row], "box_len": num}, {"coords": [row, [num]]}, {"box_len": num, "out_dir": 1}] * 3:
        with pytest.raises((RuntimeError, ValueError, TypeError)):
            call(species=[name], **override)
    assert sys.getrefcount(name) == before
    del row, num, override
    gc.collect()
    assert [r() for r in refs] == [None, None]


@pytest.fixture
def inputs(tmp_path, monkeypatch):
    """Two one-atom species and their force field, in the current directory."""
    monkeypatch.chdir(tmp_path)
    write_json(tmp_path / "force_field.json", {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [
        {"name": "CH4", "mass": 16.04, "charge": 0.0}, {"name": "Ar", "mass": 39.948, "charge": 0.0}],
        "SelfInteractions": [{"name": "CH4", "parameters": [148.0, 3.73]}, {"name": "Ar", "parameters": [119.8, 3.4]}]})
    write_json(tmp_path / "methane.json", {"pseudoAtoms": [["CH4", [0, 0, 0]]]})
    write_json(tmp_path / "argon.json", {"pseudoAtoms": [["Ar", [0, 0, 0]]]})
    return tmp_path


SPECIES = ["methane.json", "argon.json"]
COORDS = [[0, 0, 0], [1.5, 2, 3], [4, 5, 6]]


@pytest.mark.parametrize("extra, header", [
    ({}, "Some(LjCut)  |  Explicit LB: false"),  # the defaults, in the current directory
    ({"pair_style": None, "out_dir": "out/sub"}, "None  |  Explicit LB: false"),
    ({"pair_style": P.Tip4p, "explicit_lb": True, "out_dir": "o"}, "Some(Tip4p)  |  Explicit LB: true"),
    ({"pair_style": P.LjCutCoulLong, "explicit_lb": np.bool_(True), "force_field": "force_field.json",
      "out_dir": "o"}, "Some(LjCutCoulLong)  |  Explicit LB: true"),
])
def test_preset_flag_and_defaults_reach_the_output(inputs, extra, header):
    out = extra.get("out_dir", ".")
    assert pack_from_coords_py(SPECIES, [2, 1], COORDS, 20, **extra).splitlines()[:3] == [
        f"Wrote {out}/data.lmp", f"Wrote {out}/forcefield.lmp", "box: 20.000 Å cube  |  atoms: 3 (2 types)  bonds: 0 "
        "(0 types)  angles: 0 (0 types)  dihedrals: 0 (0 types)"]
    assert f"# Pair setup : {header}\n" in (inputs / out / "forcefield.lmp").read_text()


# A C-contiguous float64 (N, 3) array, or a memoryview of one, is read in place; other layouts and
# dtypes take the sequence way. The file is the same either way.
@pytest.mark.parametrize("as_given", [lambda a: a, memoryview, np.asfortranarray, lambda a: a.astype(">f8"),
                                      lambda a: a.astype(np.float32)])
def test_arrays_write_the_file_their_lists_write(inputs, as_given):
    given = as_given(np.random.default_rng(5).uniform(-50.0, 50.0, (30_000, 3)))
    pack_from_coords_py(SPECIES, [29_999, 1], given, 100.0, out_dir="array")
    pack_from_coords_py(SPECIES, [29_999, 1], np.asarray(given, dtype=float).tolist(), 100.0, out_dir="list")
    assert (inputs / "array/data.lmp").read_bytes() == (inputs / "list/data.lmp").read_bytes()


def test_an_array_read_in_place_is_let_go(inputs):
    memory = bytearray(np.arange(9.0).tobytes())
    view = memoryview(memory).cast("d", [3, 3])
    pack_from_coords_py(SPECIES, [2, 1], view, 20)
    with pytest.raises(RuntimeError):
        pack_from_coords_py(SPECIES, [2, 1], view, 20, force_field="missing.json")
    view.release()
    memory.append(0)  # BufferError while the call still held it


def test_other_threads_run_while_the_files_are_written(inputs):
    coords = np.random.default_rng(3).uniform(0.0, 100.0, (300_000, 3))
    during = ticks_during(lambda: pack_from_coords_py(SPECIES, [299_999, 1], coords, 100.0))
    assert during > 5  # one at most if the lock were held
