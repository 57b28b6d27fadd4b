"""The extension module as Python sees it: class, binding, conversions, errors."""

import gc
import importlib.metadata
import inspect
import os
import pathlib
import sys
import weakref

import numpy as np
import pytest

import cellkit
from cellkit import _native
from cellkit._native import PyPairSetup, pack_from_coords_py
from helpers import ticks_during, write_json

P = PyPairSetup
MISSING_FF = "no_such_dir/force_field.json"
# Valid in shape; the force field does not exist, so a call that gets past
# argument conversion fails with the loader's RuntimeError.
BASE = dict(species=["a.json"], counts=[1], coords=[[0.0, 0.0, 0.0]], box_len=10.0, force_field=MISSING_FF)


def call(**override):
    return pack_from_coords_py(**{**BASE, **override})


@pytest.mark.parametrize(
    "value, expected",
    [
        (lambda: repr(P.Tip4p), "PyPairSetup.Tip4p"),
        (lambda: repr(P.LjCut), "PyPairSetup.LjCut"),
        (lambda: str(P.LjCutCoulLong), "PyPairSetup.LjCutCoulLong"),
        (lambda: [int(P.Tip4p), int(P.LjCut), int(P.LjCutCoulLong)], [0, 1, 2]),
        (lambda: P.Tip4p == 0, True),
        (lambda: 1 == P.LjCut, True),
        (lambda: P.LjCut == np.int64(1), True),
        (lambda: P.LjCut == True, True),  # noqa: E712  bool has __index__
        (lambda: P.Tip4p == P.LjCut, False),
        (lambda: P.Tip4p != P.LjCut, True),
        (lambda: P.LjCut == P.LjCut, True),
        (lambda: P.Tip4p != "Tip4p", True),
        (lambda: P.LjCut == 1.0, False),
        (lambda: P.LjCut == 2**64 + 1, False),
        (lambda: P.LjCut != -(2**70), True),
        (lambda: P.LjCut is P.LjCut, True),
        (lambda: P.__doc__, "Python-exposed PairSetup enum"),
        (lambda: (P.__module__, P.__qualname__), ("cellkit._native", "PyPairSetup")),
    ],
)
def test_pair_setup_behaviour(value, expected):
    assert value() == expected


@pytest.mark.parametrize(
    "action",
    [
        lambda: P.Tip4p < P.LjCut,
        lambda: P.Tip4p <= 1,
        lambda: P.LjCut > 0,
        lambda: P.LjCut >= P.LjCut,
        lambda: hash(P.Tip4p),
        lambda: {P.LjCut},
        lambda: P(),
        lambda: type(P.LjCut)(1),
        lambda: setattr(P, "LjCut", P.Tip4p),
        lambda: type("Sub", (P,), {}),
    ],
)
def test_pair_setup_refusals(action):
    with pytest.raises(TypeError):
        action()


def test_module_surface():
    assert _native.__doc__ == "Native extension module of cellkit, imported as `cellkit._native`."
    assert [n for n in vars(_native) if not n.startswith("_")] == [  # private helpers of the Python layer aside
        "PyPairSetup", "pack_packmol_py", "pack_from_coords_py", "pack_raspa_py"
    ]
    assert cellkit.__version__ == importlib.metadata.version("cellkit")
    assert (cellkit.PyPairSetup, cellkit.pack_from_coords_py) == (P, pack_from_coords_py)
    assert pack_from_coords_py.__text_signature__ == (
        "(species, counts, coords, box_len, pair_style=..., explicit_lb=False, force_field=..., out_dir=...)"
    )
    params = inspect.signature(pack_from_coords_py).parameters
    assert {p.kind for p in params.values()} == {inspect.Parameter.POSITIONAL_OR_KEYWORD}
    assert [p.default for p in params.values()][3:] == [inspect.Parameter.empty, ..., False, ..., ...]
    assert pack_from_coords_py.__doc__.startswith(
        "Write LAMMPS files from **pre-computed** coordinates (used by the raspa path).\n"
    )


# Missing, surplus, unknown and doubled arguments; the wording is CPython's, only the function is named.
@pytest.mark.parametrize(
    "args, kwargs",
    [
        ((["a.json"], [1], []), {}),
        ((["a.json"], [1], [], 1.0, None, False, "f", "o", "extra"), {}),
        ((["a.json"], [1], [], 1.0), {"outdir": "o"}),
        ((["a.json"], [1], [], 1.0), {"species": ["b.json"]}),
    ],
)
def test_binding_errors(args, kwargs):
    with pytest.raises(TypeError, match=r"pack_from_coords_py\(\)"):
        pack_from_coords_py(*args, **kwargs)


# Our own wordings are pinned; None marks a conversion whose wording is CPython's.
@pytest.mark.parametrize(
    "override, exc, message, param",
    [
        ({"species": "a.json"}, TypeError, "Can't extract `str` to `Vec`", "species"),
        ({"species": ["a.json", 3]}, TypeError, "'int' object is not an instance of 'str'", "species"),
        ({"species": [pathlib.Path("a.json")]}, TypeError, "'PosixPath' object is not an instance of 'str'", "species"),
        ({"species": {"a.json"}}, TypeError, "'set' object is not an instance of 'Sequence'", "species"),
        ({"counts": [-1]}, OverflowError, None, "counts"),
        ({"counts": [1.0]}, TypeError, None, "counts"),
        ({"coords": [[0, 0, "x"]]}, TypeError, None, "coords"),
        ({"coords": [[1, 2], "xyz"]}, TypeError, "Can't extract `str` to `Vec`", "coords"),
        # Bytes-like rows would read as small integers (b"abc" as 97, 98, 99).
        ({"coords": [b"abc"]}, TypeError, "Can't extract `bytes` to `Vec`", "coords"),
        ({"coords": [bytearray(b"abc")]}, TypeError, "Can't extract `bytearray` to `Vec`", "coords"),
        ({"coords": [memoryview(b"abc")]}, TypeError, "Can't extract `memoryview` to `Vec`", "coords"),
        ({"coords": b"abc"}, TypeError, "Can't extract `bytes` to `Vec`", "coords"),
        ({"species": b"a.json"}, TypeError, "Can't extract `bytes` to `Vec`", "species"),
        ({"coords": [0.0]}, TypeError, "'float' object is not an instance of 'Sequence'", "coords"),
        ({"box_len": "10"}, TypeError, None, "box_len"),
        ({"pair_style": 1}, TypeError, "'int' object is not an instance of 'PyPairSetup'", "pair_style"),
        ({"explicit_lb": 1}, TypeError, "'int' object is not an instance of 'bool'", "explicit_lb"),
        ({"force_field": pathlib.Path("f")}, TypeError, "'PosixPath' object is not an instance of 'str'", "force_field"),
        ({"out_dir": "a\0b"}, ValueError, None, "out_dir"),
        # The first failing parameter is the one reported.
        ({"counts": [-1], "explicit_lb": 0}, OverflowError, None, "counts"),
        # Conversion errors of later parameters come before the coordinate shape check.
        ({"coords": [[1, 2]], "out_dir": 5}, TypeError, "'int' object is not an instance of 'str'", "out_dir"),
        ({"coords": [[1, 2], [0, 0, "x"]]}, TypeError, None, "coords"),
    ],
)
def test_conversion_failures(override, exc, message, param):
    with pytest.raises(exc) as info:
        call(**override)
    assert type(info.value) is exc
    assert message is None or str(info.value) == message
    assert info.value.__notes__ == [f"while processing '{param}'"]


@pytest.mark.parametrize(
    "coords, message",
    [
        ([[0, 0, 0], [1, 2]], "coords[1] has 2 elements; expected [x, y, z]"),
        ([[]], "coords[0] has 0 elements; expected [x, y, z]"),
        ([(0, 0, 0, 0), [1]], "coords[0] has 4 elements; expected [x, y, z]"),
        (np.zeros((2, 4)), "coords[0] has 4 elements; expected [x, y, z]"),
    ],
)
def test_coordinate_shape_error_before_any_file(coords, message):
    with pytest.raises(ValueError) as info:
        call(coords=coords)
    assert str(info.value) == message
    assert not hasattr(info.value, "__notes__")


@pytest.mark.parametrize(
    "override",
    [
        {"species": ("a.json",), "counts": (1,)},
        {"counts": np.array([1], dtype=np.uint64)},
        {"coords": [(1, 2, 3)]},
        {"coords": ((np.float32(1), 2.5, True),)},
        {"coords": np.zeros((1, 3))},
        {"coords": []},
        {"box_len": 10},
        {"box_len": np.float64(10)},
        {"pair_style": None},
        {"pair_style": P.Tip4p},
        {"explicit_lb": True},
        {"explicit_lb": np.bool_(False)},
    ],
)
def test_accepted_inputs_reach_the_loader(override):
    with pytest.raises(RuntimeError, match=rf"^reading {MISSING_FF}: "):
        call(**override)


def test_no_crash_when_conversion_mutates_the_arguments():
    coords = []

    class Shrinker:
        def __float__(self):
            coords.clear()
            return 1.0

    coords.extend([[Shrinker(), 0.0, 0.0], [1.0, 2.0, 3.0]] * 3)
    with pytest.raises(RuntimeError):
        call(coords=coords)


def test_arguments_are_released():
    class Row(list):
        pass

    class Num(float):
        pass

    row, num = Row([0.0, 0.0, 0.0]), Num(1.0)
    refs = [weakref.ref(row), weakref.ref(num)]
    name = "".join(["a", ".json"])
    before = sys.getrefcount(name)
    for _ in range(3):
        for override in ({"coords": [row], "box_len": num}, {"coords": [row, [num]]}, {"box_len": num, "out_dir": 1}):
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
    write_json(tmp_path / "force_field.json", {
        "MixingRule": "Lorentz-Berthelot",
        "PseudoAtoms": [{"name": "CH4", "mass": 16.04, "charge": 0.0}, {"name": "Ar", "mass": 39.948, "charge": 0.0}],
        "SelfInteractions": [{"name": "CH4", "parameters": [148.0, 3.73]}, {"name": "Ar", "parameters": [119.8, 3.4]}],
    })
    write_json(tmp_path / "methane.json", {"pseudoAtoms": [["CH4", [0, 0, 0]]]})
    write_json(tmp_path / "argon.json", {"pseudoAtoms": [["Ar", [0, 0, 0]]]})
    return tmp_path


SPECIES = ["methane.json", "argon.json"]
COORDS = [[0, 0, 0], [1.5, 2, 3], [4, 5, 6]]


def test_defaults_build_in_current_directory(inputs):
    text = pack_from_coords_py(SPECIES, [2, 1], COORDS, 20)
    assert text.splitlines() == [
        "Wrote ./data.lmp",
        "Wrote ./forcefield.lmp",
        "box: 20.000 Å cube  |  atoms: 3 (2 types)  bonds: 0 (0 types)  angles: 0 (0 types)  dihedrals: 0 (0 types)",
    ]
    assert "# Pair setup : Some(LjCut)  |  Explicit LB: false\n" in (inputs / "forcefield.lmp").read_text()


@pytest.mark.parametrize(
    "extra, header",
    [
        ({"pair_style": None}, "None  |  Explicit LB: false"),
        ({"pair_style": P.Tip4p, "explicit_lb": True}, "Some(Tip4p)  |  Explicit LB: true"),
        ({"pair_style": P.LjCutCoulLong, "explicit_lb": np.bool_(True)}, "Some(LjCutCoulLong)  |  Explicit LB: true"),
    ],
)
def test_preset_and_flag_reach_the_output(inputs, extra, header):
    pack_from_coords_py(SPECIES, [2, 1], COORDS, 20, out_dir="out/sub", force_field="force_field.json", **extra)
    assert f"# Pair setup : {header}\n" in (inputs / "out/sub/forcefield.lmp").read_text()


@pytest.mark.parametrize(
    "species, message",
    [
        (["methane.json", "missing.json"], "reading missing.json: "),
        ([os.fsdecode(b"methane.json"), os.fsdecode(b"gone\xff.json")], "reading gone\ufffd.json: "),
    ],
)
def test_loader_failure_is_runtime_error(inputs, species, message):
    with pytest.raises(RuntimeError) as info:
        pack_from_coords_py(species, [2, 1], COORDS, 20)
    assert str(info.value).startswith(message)
    assert not hasattr(info.value, "__notes__")
    assert not (inputs / "data.lmp").exists()



# A C-contiguous float64 (N, 3) array, or a memoryview of one, is read in place; other layouts and
# dtypes take the sequence way. The file is the same either way.
@pytest.mark.parametrize(
    "as_given",
    [
        lambda a: a,
        memoryview,
        np.asfortranarray,
        lambda a: np.repeat(a, 2, axis=0)[::2],
        lambda a: a.astype(">f8"),
        lambda a: a.astype(np.float32),
    ],
)
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
    assert "      3       3    2   0.000000    6.000000e0    7.000000e0    8.000000e0  # Ar argon\n" in (
        inputs / "data.lmp").read_text()
    view.release()
    memory.append(0)  # BufferError while the call still held it


def test_other_threads_run_while_the_files_are_written(inputs):
    coords = np.random.default_rng(3).uniform(0.0, 100.0, (300_000, 3))
    during = ticks_during(lambda: pack_from_coords_py(SPECIES, [299_999, 1], coords, 100.0))
    assert during > 5  # one at most if the lock were held
