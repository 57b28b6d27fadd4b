"""Random sound builds, all presets: what the module writes, LAMMPS reads, unless the summary foretold otherwise."""

from __future__ import annotations

import json
import pathlib
import random
import re

import numpy as np

from cellkit import _native
from helpers import bonded_terms, lammps_verdict, lattice

PyPairSetup = _native.PyPairSetup
SYSTEMS = 30
# Letters plus characters that mean something to LAMMPS or JSON elsewhere, but not in a comment.
ALPHABET = "ABCHNOSPabcxyz0123456789_-+*&'\"#$%{}()[]=.,;:!?@^~|<>\u00c5\u00e9 "
PRESETS = ["Tip4p", "LjCut", "LjCutCoulLong", None]
# The warnings that say LAMMPS will refuse the pair style of the preset.
REFUSAL = re.compile(r"^warning: (every atom type has charge 0|the Tip4p preset)", re.M)


def random_name(rng: random.Random, taken: set[str]) -> str:
    while True:
        name = "".join(rng.choice(ALPHABET) for _ in range(rng.randint(1, 6))).strip()
        # A final '&' and a triple quote are what the build refuses; a random text has neither here.
        if name and not name.endswith("&") and '"""' not in name and name not in taken:
            taken.add(name)
            return name


def random_geometry(rng: random.Random, n: int, pairs: list[tuple[int, int]]) -> np.ndarray:
    """Positions with every bond of a spanning tree 1.5 A long (ring closures may be longer)."""
    pos = np.zeros((n, 3))
    placed = {0}
    for a, b in pairs:
        if (a in placed) == (b in placed):
            continue
        new, old = (b, a) if a in placed else (a, b)
        while True:
            v = np.array([rng.gauss(0, 1) for _ in range(3)])
            p = pos[old] + 1.5 * v / np.linalg.norm(v)
            if all(np.linalg.norm(p - pos[q]) > 1.2 for q in placed):
                break
        pos[new] = p
        placed.add(new)
    return pos


def value(label: str, lo: float, hi: float) -> float:
    """A parameter that depends only on the type key, so species that share a type agree on it."""
    return random.Random(label).uniform(lo, hi)


def key(names):
    names = list(names)
    return tuple(min(names, names[::-1]))


def random_molecule(rng: random.Random, types: list[str], rigid: bool):
    n = rng.randint(1, 7)
    pairs = [(rng.randrange(a), a) for a in range(1, n)]  # a tree: chains and branches
    if n >= 4 and rng.random() < 0.4:  # close a ring
        a, b = rng.sample(range(n), 2)
        if (a, b) not in pairs and (b, a) not in pairs:
            pairs.append((a, b))
    pairs = [(b, a) if rng.random() < 0.5 else (a, b) for a, b in pairs]
    rng.shuffle(pairs)
    names = [rng.choice(types) for _ in range(n)]
    pos = random_geometry(rng, n, sorted(pairs, key=lambda p: max(p)))
    # A ring-closing bond is not 1.5 A long; in a rigid molecule it gets a Bonds entry, the others stay placeholders.
    closing = {p for p in pairs if abs(np.linalg.norm(pos[p[0]] - pos[p[1]]) - 1.5) > 1e-9}
    angles, dihedrals = bonded_terms(n, pairs)
    doc = {"pseudoAtoms": [[t, p.tolist()] for t, p in zip(names, pos)], "Connectivity": [list(p) for p in pairs]}
    if rigid:
        doc["Type"] = rng.choice(["rigid", "Rigid", "RIGID"])
    bonds = {key((names[a], names[b])) for a, b in pairs if not rigid or (a, b) in closing}
    doc["Bonds"] = [[list(k), "HARMONIC", [value(f"b{k}", 300, 900) * 1000, value(f"r{k}", 1.3, 1.7)]] for k in bonds]
    bends = {key((names[i], names[j], names[k])) for i, j, k in angles}
    doc["Bends"] = [[list(k), rng.choice(["HARMONIC", "harmonic"]), [value(f"a{k}", 30, 80) * 1000,
                                                                      value(f"t{k}", 100, 125)]] for k in bends]
    quads = sorted({key(tuple(names[x] for x in d)) for d in dihedrals})
    doc["Torsions"] = [[list(k), "TRAPPE", [0.0] + [value(f"c{m}{k}", -500, 900) for m in range(3)]]
                       for k in quads if rng.random() < 0.7]
    return doc


WATER = {"Type": "rigid", "pseudoAtoms": [["Ow", [0.0, 0.0, 0.0]], ["Hw", [1.0, 0.0, 0.0]],
                                          ["Hw", [-0.333313247568237, 0.942816142731718, 0.0]]],
         "Connectivity": [[0, 1], [0, 2]]}


def random_system(rng: random.Random, d: pathlib.Path):
    """Writes a force field and species files into d; returns the build arguments and the molecules' templates."""
    d.mkdir()
    taken: set[str] = {"Ow", "Hw"}
    rigid_types = [random_name(rng, taken) for _ in range(rng.randint(1, 3))]
    flexible_types = [random_name(rng, taken) for _ in range(rng.randint(1, 3))]
    charged = rng.random() < 0.7
    atoms, selfs, sources = [], [], ["TraPPE &\nsomeone's \"model\" #1", "line one\r\nline two &\t", "\u00c5ngstr\u00f6m"]
    for t in rigid_types + flexible_types:
        atoms.append({"name": t, "mass": round(rng.uniform(1.0, 40.0), 3),
                      "charge": round(rng.uniform(-1, 1), 4) if charged else 0.0, "source": rng.choice(sources + [None])})
        if rng.random() < 0.85:
            selfs.append({"name": t, "parameters": [rng.uniform(10, 200), rng.uniform(2.5, 4.0)],
                          "source": rng.choice(sources + [None])})
    atoms += [{"name": "Ow", "mass": 15.9994, "charge": -0.8476 if charged else 0.0},
              {"name": "Hw", "mass": 1.008, "charge": 0.4238 if charged else 0.0}]
    selfs.append({"name": "Ow", "parameters": [78.197, 3.166]})
    all_types = rigid_types + flexible_types
    binaries = []
    if len(all_types) >= 2 and rng.random() < 0.5:
        a, b = rng.sample(all_types, 2)
        binaries.append({"names": [a, b], "parameters": [rng.uniform(10, 100), rng.uniform(2.5, 4.0)], "source": "pair"})
    ff = {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": atoms, "SelfInteractions": selfs,
          "BinaryInteractions": binaries}
    (d / "force_field.json").write_text(json.dumps(ff))

    stems: set[str] = set()
    species, counts, templates = [], [], []
    preset = rng.choice(PRESETS)
    docs = [("water", WATER)] if preset == "Tip4p" and rng.random() < 0.7 or rng.random() < 0.2 else []
    for _ in range(rng.randint(1, 3)):
        rigid = rng.random() < 0.4
        docs.append((random_name(rng, stems).replace("/", "_").lstrip("."),
                     random_molecule(rng, rigid_types if rigid else flexible_types, rigid)))
    if rng.random() < 0.3:
        docs.append(docs.pop(0))  # the water, if any, not first
    for stem, doc in docs:
        path = d / f"{stem or 'x'}.json"
        path.write_text(json.dumps(doc))
        species.append(str(path))
        counts.append(rng.choice([0, 1, 2, 3, 4]) if len(docs) > 1 else rng.randint(1, 4))
        templates.append(np.array([p for _, p in doc["pseudoAtoms"]]))
    return species, counts, templates, preset, str(d / "force_field.json")


def test_random_sound_builds_are_accepted_by_lammps_or_foretold(lmp, tmp_path):
    rng = random.Random(20250607)
    accepted, foretold, refused_by_module = [], [], []
    for s in range(SYSTEMS):
        d = tmp_path / f"s{s}"
        species, counts, templates, preset, force_field = random_system(rng, d)
        molecules = [t for t, c in zip(templates, counts) for _ in range(c)]
        extent = max(float(np.ptp(t, axis=0).max()) for t in templates)
        coords, box = lattice(molecules, spacing=max(extent + 4.0, 6.0)) if molecules else ([], 10.0)
        try:
            summary = _native.pack_from_coords_py(
                species, counts, coords, max(box, 12.0), pair_style=getattr(PyPairSetup, preset) if preset else None,
                explicit_lb=rng.random() < 0.5, force_field=force_field, out_dir=str(d / "out"))
        except RuntimeError as e:
            refused_by_module.append((s, str(e)))
            continue
        pair_style = "pair_style lj/cut 10.0\n" if preset is None else ""
        (foretold if REFUSAL.search(summary) else accepted).append((s, pair_style, summary))

    # Those the module wrote without a foreboding: one LAMMPS run reads them all, one after the other.
    script = "".join(f'clear\nprint "SYSTEM {s}"\nunits real\natom_style full\nread_data s{s}/out/data.lmp\n'
                     f"{pair_style}include s{s}/out/forcefield.lmp\nrun 0\n" for s, pair_style, _ in accepted)
    ok, out = lammps_verdict(lmp, tmp_path, script)
    failed = re.findall(r"^SYSTEM (\d+)$", out, re.M)[-1:] if not ok else []
    assert ok, f"LAMMPS refused system {failed}:\n{next(x[2] for x in accepted if str(x[0]) in failed)}\n{out[-3000:]}"
    # Those with a foreboding: LAMMPS does refuse them.
    for s, pair_style, summary in foretold:
        ok, out = lammps_verdict(lmp, tmp_path / f"s{s}" / "out", "units real\natom_style full\nread_data data.lmp\n"
                                 f"{pair_style}include forcefield.lmp\nrun 0\n")
        assert not ok, summary
    # Most random systems are sound, so the test sees LAMMPS read many of them.
    assert len(accepted) >= SYSTEMS // 2, (len(accepted), len(foretold), refused_by_module)
