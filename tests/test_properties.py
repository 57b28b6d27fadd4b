"""Property tests: any arguments end in a result or a documented exception; LAMMPS reads random sound systems."""

from __future__ import annotations

import contextlib
import dataclasses
import inspect
import json
import pathlib
import re
import tempfile
import zlib

import numpy as np
from hypothesis import HealthCheck, event, example, given, settings
from hypothesis import strategies as st

from cellkit import _native
from helpers import EXAMPLES, bonded_terms, lammps_verdict, lattice, write_json

P = _native.PyPairSetup
PRESETS = [P.Tip4p, P.LjCut, P.LjCutCoulLong, P.ForceField, None]
ENTRIES = [_native.pack_from_coords_py, _native.pack_packmol_py, _native.pack_raspa_py]
DOCUMENTED = (TypeError, ValueError, OverflowError, RuntimeError)
# A C++ exception that is not the build's own message would reach Python with a text like these
# ("vector::reserve", "basic_string::_M_create", "std::bad_alloc", "filesystem error: ...").
FOREIGN = re.compile(r"unexpected C\+\+ exception|\w+::|bad_\w+$|filesystem error")


class Boom(Exception):
    """Raised by the caller's own objects: passing it on unchanged is right."""


def boom_or(value):
    if value is Boom:
        raise Boom
    return value


@dataclasses.dataclass
class Misbehaving:
    """An object whose conversions go wrong in the ways a caller's class can."""
    index: object
    floating: object
    __index__ = lambda self: boom_or(self.index)  # noqa: E731
    __float__ = lambda self: boom_or(self.floating)  # noqa: E731


@dataclasses.dataclass
class Sequence:
    """A sequence that is no list or tuple, read through __len__ and __getitem__; its length may lie."""
    items: list
    claimed: int
    __len__ = lambda self: self.claimed  # noqa: E731
    __getitem__ = lambda self, i: self.items[i]  # noqa: E731


def self_emptying(items):
    """A list whose first conversion empties it, as a careless __index__ or __float__ could."""
    out = list(items)
    emptier = type("Emptier", (), {"__index__": lambda _: out.clear() or 1, "__float__": lambda _: out.clear() or 1.0})
    return out.insert(0, emptier()) or out


def object_array(items):
    with contextlib.suppress(ValueError):  # NumPy refuses some nestings; a tuple stands in
        return np.array(items, dtype=object)
    return tuple(items)


scalars = st.one_of(
    st.none(), st.booleans(), st.integers(), st.integers(min_value=-(2**70), max_value=2**70), st.floats(),
    st.text(max_size=8), st.binary(max_size=4), st.sampled_from(PRESETS[:3]),
    st.builds(Misbehaving, st.sampled_from([1, -1, 2**64, 1.5, "1", None, Boom]),
              st.sampled_from([1.0, float("nan"), 1, "1.0", None, Boom])),
    st.sampled_from([np.float64(1.5), np.int64(-3), np.uint64(2**64 - 1), np.bool_(True), pathlib.Path("x")]))
values = st.recursive(scalars, lambda inner: st.one_of(
    st.lists(inner, max_size=4), st.lists(inner, max_size=4).map(tuple),
    st.lists(inner, max_size=4).map(self_emptying), st.dictionaries(st.text(max_size=3), inner, max_size=2),
    st.builds(Sequence, st.lists(inner, max_size=4), st.integers(0, 6)), st.frozensets(st.integers(), max_size=2),
    st.lists(inner, max_size=3).map(object_array)), max_leaves=12)


# A value each parameter accepts, so that a hostile value in a later parameter is reached too.
usual = {
    "species": st.lists(st.text(max_size=6), max_size=3), "counts": st.lists(st.integers(0, 3), max_size=3),
    "coords": st.lists(st.lists(st.floats(), min_size=3, max_size=3), max_size=3), "box_len": st.floats(),
    "density": st.floats(), "tolerance": st.floats(), "temperature": st.floats(),
    "init_cycles": st.integers(0, 3), "equil_cycles": st.integers(0, 3), "prod_cycles": st.integers(0, 3),
    "pair_style": st.sampled_from(PRESETS), "explicit_lb": st.booleans(),
    "force_field": st.text(max_size=6), "out_dir": st.text(max_size=6),
    "lammps_input": st.one_of(st.none(), st.tuples(st.floats(), st.one_of(st.none(), st.floats()))),
    "aspect": st.one_of(st.none(), st.lists(st.floats(), max_size=4)),
    "box": st.one_of(st.none(), st.lists(st.floats(), max_size=4)),
    "vacuum": st.floats(),
    "layers": st.one_of(st.none(), st.lists(st.tuples(st.integers(0, 3), st.floats()), max_size=3)),
    "seed": st.integers(0, 2**40), "progress": st.sampled_from([None, print]),
}


@st.composite
def calls(draw):
    entry = draw(st.sampled_from(ENTRIES))
    params = inspect.signature(entry).parameters
    names = list(params)
    # About one hostile parameter a call, by position or keyword; optional ones may be left out; now
    # and then a surplus or unknown argument.
    given_ = [draw(values if draw(st.integers(0, len(names))) == 0 else usual[n]) for n in names]
    cut = draw(st.integers(0, len(names)))
    args, kwargs = given_[:cut], {n: v for n, v in zip(names[cut:], given_[cut:])
                                  if params[n].default is inspect.Parameter.empty or draw(st.booleans())}
    if draw(st.integers(0, 9)) == 0:
        args.append(draw(values)) if draw(st.booleans()) else kwargs.update(bogus=draw(values))
    return entry, args, kwargs


@settings(max_examples=200, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
@given(calls())
@example((_native.pack_from_coords_py, [["a", "b"], self_emptying([1, 1]), [], 1.0], {}))  # a list emptied midway
@example((_native.pack_packmol_py, [[], [], None], {"aspect": self_emptying([1, 1])}))  # read by position
@example((_native.pack_packmol_py, [[], [], None], {"layers": [self_emptying([1])]}))
@example((_native.pack_from_coords_py, [[], [], [], self_emptying([1, 1])], {}))
def test_any_arguments_end_in_a_result_or_a_documented_exception(call):
    entry, args, kwargs = call
    names = list(inspect.signature(entry).parameters)
    # No input file exists in an empty directory, so every call that gets past its arguments stops
    # at the loader, before Packmol or RASPA3 could start, and leaves nothing behind.
    with tempfile.TemporaryDirectory() as empty, contextlib.chdir(empty):
        try:
            assert isinstance(entry(*args, **kwargs), str)
        except (*DOCUMENTED, Boom) as e:
            event(type(e).__name__)
            assert not FOREIGN.match(str(e)), repr(e)
            assert getattr(e, "__notes__", []) in [[]] + [[f"while processing '{n}'"] for n in names], e.__notes__
        assert list(pathlib.Path(empty).iterdir()) == []


# --- Random sound systems --------------------------------------------------------------------------

# Letters plus characters that mean something to LAMMPS or JSON elsewhere, but not in a comment.
NAME_CHARS = "ABCHNOSPabcxyz0123456789_-+*&'\"#$%{}()[]=.,;:!?@^~|<> \u00c5\u00e9"
# A final '&' (blanks after it aside) and a triple quote are what the build refuses in a name.
type_names = st.text(NAME_CHARS, min_size=1, max_size=5).filter(
    lambda n: not n.rstrip(" ").endswith("&") and '"""' not in n)
sources = st.sampled_from([None, "TraPPE &\nsomeone's #1", "\u00c5ngstr\u00f6m \"\"x", "line one\r\nline two &\t"])
# The warnings that say LAMMPS will refuse the pair style of the preset, and the one that says it will
# refuse it or place the M site wrongly (it takes the two atoms after each type-1 atom, bonded or not).
REFUSED = re.compile(r"^warning: (every atom type has charge 0|the Tip4p preset needs the water hydrogen)", re.M)
MISPLACED = re.compile(r"^warning: the Tip4p preset takes atom types 1 and 2", re.M)
WATER = json.loads((EXAMPLES / "water.json").read_text())
DIRECTIONS = np.array([[1, 0, 0], [0, 1, 0], [0, 0, 1], np.array([1, 2, 4]) / 21**0.5])


def value(key: tuple, lo: float, hi: float) -> float:
    """A parameter that depends only on its type key, so species that share a type agree on it."""
    return lo + (hi - lo) * (zlib.crc32(repr(key).encode()) / 2**32)


canonical = lambda names_: min(names_, names_[::-1])  # noqa: E731 - a type key, read either way


@st.composite
def molecules(draw, rigid_types, flexible_types):
    rigid = draw(st.booleans())
    n = draw(st.integers(1, 5))
    parents = [draw(st.integers(0, a - 1)) for a in range(1, n)]
    pairs = [(p, a) if draw(st.booleans()) else (a, p) for a, p in zip(range(1, n), parents)]
    if not rigid and n >= 3 and draw(st.booleans()):  # close a ring, its bond listed anywhere
        ring = draw(st.sampled_from([(a, b) for b in range(1, n) for a in range(b) if a != parents[b - 1]]))
        pairs.insert(draw(st.integers(0, len(pairs))), ring)
    kinds = [draw(st.sampled_from(rigid_types if rigid else flexible_types)) for _ in range(n)]
    # Every tree bond 1.5 Å long, each atom off its parent along a direction of its own: no two atoms
    # closer than 0.75 Å, and a rigid species' placeholder lengths agree with every other's.
    pos = [np.zeros(3)]
    for a, p in enumerate(parents, 1):
        pos.append(pos[p] + 1.5 * DIRECTIONS[a - 1])
    doc = {"pseudoAtoms": [[t, x.tolist()] for t, x in zip(kinds, pos)], "Connectivity": [list(p) for p in pairs]}
    angles, dihedrals = bonded_terms(n, pairs)
    if rigid:
        doc["Type"] = draw(st.sampled_from(["rigid", "RIGID"]))
    # A rigid species takes some bond types' constants from the file, the others' from its geometry.
    bonds = {canonical((kinds[a], kinds[b])) for a, b in pairs}
    doc["Bonds"] = [[list(k), "HARMONIC", [value(k, 3e5, 9e5), value(k, 1.3, 1.7)]] for k in bonds
                    if not rigid or value(k, 0, 1) < 0.5]
    # Angles of one type differ in this geometry, so their constants are given, rigid or not.
    bends = {canonical(tuple(kinds[x] for x in a)) for a in angles}
    doc["Bends"] = [[list(k), "HARMONIC", [value(k, 3e4, 8e4), value(k, 100, 125)]] for k in bends]
    quads = sorted({canonical(tuple(kinds[x] for x in d)) for d in dihedrals})
    doc["Torsions"] = [[list(k), "TRAPPE", [0.0, value(k, -500, 900), value(k + (1,), -500, 900),
                                            value(k + (2,), -500, 900)]] for k in quads if draw(st.booleans())]
    return doc


# Below about 1e-159 (and above 1e-162, whose square is 0) a charge leaves LAMMPS's PPPM unable to
# compute its Ewald parameter, which no summary foretells.
charges = st.one_of(st.just(0.0), st.floats(1e-100, 1), st.floats(-1, -1e-100))
pair_parameters = st.tuples(st.floats(10, 200), st.floats(2.5, 4.0)).map(list)


@st.composite
def systems(draw):
    # Rigid and flexible species have types of their own: a shared bond type's constants would conflict.
    types = draw(st.lists(type_names.filter(lambda n: n not in ("Ow", "Hw")), min_size=2, max_size=4, unique=True))
    split = draw(st.integers(1, len(types) - 1))
    charged = draw(st.booleans())
    atoms = [{"name": t, "mass": draw(st.floats(1.0, 40.0)), "charge": draw(charges) if charged else 0.0,
              "source": draw(sources)} for t in types]
    atoms += [{"name": "Ow", "mass": 15.9994, "charge": -0.8476 if charged else 0.0},
              {"name": "Hw", "mass": 1.008, "charge": 0.4238 if charged else 0.0}]
    selfs = [{"name": t, "parameters": draw(pair_parameters), "source": draw(sources)}
             for t in types if draw(st.booleans())] + [{"name": "Ow", "parameters": [78.197, 3.166]}]
    stems = draw(st.lists(type_names.map(lambda s: s.lstrip(".") or "m").filter(lambda s: s != "water"),
                          min_size=1, max_size=3, unique=True))
    species = [(stem, draw(molecules(types[:split], types[split:]))) for stem in stems]
    if draw(st.booleans()):
        species.insert(draw(st.integers(0, len(species))), ("water", WATER))
    counts = [draw(st.integers(0, 3)) for _ in species]
    counts[draw(st.integers(0, len(species) - 1))] += 1  # a build of nothing is refused
    # A binary entry for two types of the box (not the water hydrogen, whose well the Tip4p preset forbids).
    used = sorted({t for (_, doc), c in zip(species, counts) if c for t, _ in doc["pseudoAtoms"]} - {"Hw"})
    binaries = [{"names": draw(st.permutations(used))[:2], "parameters": draw(pair_parameters),
                 "source": draw(sources)}] if len(used) > 1 else []
    force_field = {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": atoms, "SelfInteractions": selfs,
                   "BinaryInteractions": binaries}
    force_field |= draw(st.fixed_dictionaries({}, optional={  # the model the force-field pair style writes
        "CutOffVDW": st.floats(4.0, 14.0), "TruncationMethod": st.sampled_from(["shifted", "truncated"]),
        "TailCorrections": st.booleans(), "CutOffCoulomb": st.one_of(st.just("auto"), st.floats(4.0, 14.0)),
        "EwaldPrecision": st.sampled_from(["High", "Low", 1e-5]), "ChargeMethod": st.sampled_from(["Ewald", "None"])}))
    return force_field, species, counts, draw(st.sampled_from(PRESETS)), draw(st.booleans())


@settings(max_examples=40, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
@given(systems())
def test_sound_systems_build_and_lammps_reads_them(lmp, system):
    force_field, species, counts, preset, explicit_lb = system
    with tempfile.TemporaryDirectory() as tmp:
        d = pathlib.Path(tmp)
        coords, box = lattice([np.array([p for _, p in doc["pseudoAtoms"]]) for (_, doc), c in zip(species, counts)
                               for _ in range(c)], spacing=12.0)
        summary = _native.pack_from_coords_py(
            [write_json(d / f"{stem}.json", doc) for stem, doc in species], counts, coords, box, pair_style=preset,
            explicit_lb=explicit_lb, force_field=write_json(d / "ff.json", force_field), out_dir=str(d / "out"))
        pair_style = "pair_style lj/cut 10.0\n" if preset is None else ""
        accepted, out = lammps_verdict(lmp, d / "out", "units real\natom_style full\nread_data data.lmp\n"
                                       f"{pair_style}include forcefield.lmp\nrun 0\n")
        # What the summary foretells LAMMPS refuses; what it does not warn about LAMMPS reads and evaluates.
        if REFUSED.search(summary):
            assert not accepted, summary
        elif not MISPLACED.search(summary):
            assert accepted, f"{summary}\n{out[-3000:]}"


# --- Hostile numbers with sound files ---------------------------------------------------------------

ATOMS = {"methane": 1, "water": 3, "butane": 4}  # the example molecules
numbers = st.one_of(st.floats(), st.integers(-(2**70), 2**70), st.sampled_from([5e-324, 1e308, -0.0]))
# Counts whose atom totals reach or pass 2**64: 3 * 6148914691236517206 = 2**64 + 2.
big_counts = st.sampled_from([2**32, 2**62, 2**63, 2**64 - 1, 6148914691236517205, 6148914691236517206])
counts_ = st.integers(0, 2).flatmap(lambda k: big_counts if k == 0 else st.integers(0, 3))


@st.composite
def coordinate_builds(draw):
    species = draw(st.lists(st.sampled_from(sorted(ATOMS)), min_size=1, max_size=3, unique=True))
    counts = draw(st.lists(counts_, min_size=len(species), max_size=len(species)))
    total = sum(ATOMS[s] * c for s, c in zip(species, counts))
    # Mostly as many positions as atoms (or as a total cut to 64 bits would have), so the build gets
    # as far as the numbers let it.
    fits = [t for t in (total, total % 2**64) if t <= 40]
    n = draw(st.sampled_from(fits)) if fits and draw(st.integers(0, 4)) else draw(st.integers(0, 6))
    coords = [[draw(numbers) if draw(st.integers(0, 9)) == 0 else draw(st.floats(-50, 50)) for _ in range(3)]
              for _ in range(n)]
    box = draw(st.one_of(numbers, st.floats(10, 100)))
    return species, counts, coords, box


@settings(max_examples=150, deadline=None, database=None, suppress_health_check=[HealthCheck.too_slow])
@given(coordinate_builds())
# Atom totals that wrap around 2**64 to as many atoms as there are positions.
@example((["water"], [6148914691236517206], [[0, 0, 0]] * 2, 10.0))
@example((["methane", "water"], [2**63, 3074457345618258603], [[0, 0, 0]], 10.0))
def test_hostile_numbers_end_in_a_build_or_a_message_and_no_partial_output(build):
    species, counts, coords, box = build
    with tempfile.TemporaryDirectory() as tmp:
        out = pathlib.Path(tmp) / "out"
        try:
            summary = _native.pack_from_coords_py([str(EXAMPLES / f"{s}.json") for s in species], counts, coords, box,
                                                  force_field=str(EXAMPLES / "force_field.json"), out_dir=str(out))
        except (*DOCUMENTED, MemoryError) as e:  # a MemoryError: a count reached an allocation unchecked
            assert not isinstance(e, MemoryError) and not FOREIGN.match(str(e)), repr(e)
            assert not out.exists() or list(out.iterdir()) == [], str(e)
        else:
            assert sorted(p.name for p in out.iterdir()) == ["data.lmp", "forcefield.lmp"], summary
