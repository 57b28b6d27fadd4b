"""The packed box as a PDB file, for a look in VMD or OVITO: CRYST1 with the box, one residue per
molecule named after its species, atoms named after their pseudo-atom types with their element, and
CONECT records for the bonds. Read back from the written data.lmp, so it shows exactly what LAMMPS
will read.

Past the widths PDB allows, serial numbers (99,999) and residue numbers (9,999) go on in
hexadecimal, as VMD and Packmol write them and VMD, OVITO and MDAnalysis read them; CONECT records
are written only while every serial is decimal (up to 99,999 atoms)."""

from __future__ import annotations

import json
import math
import os
import tempfile

__all__ = ["element_of", "read_atoms", "write_pdb"]


Edges = tuple[float, float, float]

_ELEMENTS = frozenset("""H He Li Be B C N O F Ne Na Mg Al Si P S Cl Ar K Ca Sc Ti V Cr Mn Fe Co Ni Cu Zn Ga Ge As
Se Br Kr Rb Sr Y Zr Nb Mo Tc Ru Rh Pd Ag Cd In Sn Sb Te I Xe Cs Ba La Ce Pr Nd Pm Sm Eu Gd Tb Dy Ho Er Tm Yb Lu
Hf Ta W Re Os Ir Pt Au Hg Tl Pb Bi Po At Rn Fr Ra Ac Th Pa U Np Pu""".split())
def read_atoms(data_lmp: str) -> tuple[Edges, list[tuple[int, str, str, float, float, float]]]:
    """Box edges (x, y, z) and (molecule ID, type name, molecule name, x, y, z) per atom, in file order."""
    with open(data_lmp, encoding="utf-8") as f:
        return _atoms_of(f.read().splitlines())


def _atoms_of(lines: list[str]) -> tuple[Edges, list[tuple[int, str, str, float, float, float]]]:
    a, b, c = (next(float(line.split()[1]) for line in lines if line.endswith(f" {axis}lo {axis}hi")) for axis in "xyz")
    edges = (a, b, c)
    start = lines.index("Atoms") + 2
    atoms = []
    for line in lines[start:]:
        if not line.strip():
            break
        fields, _, comment = line.partition("#")
        _, mol, _, _, x, y, z = fields.split()
        type_name, mol_name = comment.split()
        atoms.append((int(mol), type_name, mol_name, float(x), float(y), float(z)))
    return edges, atoms


def element_of(type_name: str, given: dict[str, str] | None = None) -> str:
    """The element of a pseudo-atom type: the force field's "element" for it when given, else the
    element symbol its name starts with (Ow -> O, CH4 -> C, Na -> Na), else "" (a dummy site)."""
    if given and type_name in given:
        return given[type_name]
    for length in (2, 1):
        if type_name[:length] in _ELEMENTS:
            return type_name[:length]
    return ""


def _elements_of(force_field: str | os.PathLike[str] | None) -> dict[str, str]:
    """The "element" of each PseudoAtoms entry that has one; nothing when the file says nothing readable."""
    if force_field is None:
        return {}
    try:
        with open(force_field, encoding="utf-8") as f:
            entries = json.load(f)["PseudoAtoms"]
        return {e["name"]: e["element"] for e in entries
                if isinstance(e, dict) and isinstance(e.get("name"), str) and isinstance(e.get("element"), str)}
    except (OSError, ValueError, KeyError, TypeError):
        return {}


def _read_bonds(lines: list[str]) -> list[tuple[int, int]]:
    if "Bonds" not in lines:
        return []
    bonds = []
    for line in lines[lines.index("Bonds") + 2:]:
        if not line.strip():
            break
        _, _, a, b = line.split("#")[0].split()
        bonds.append((int(a), int(b)))
    return bonds


def _number(value: int, width: int) -> str:
    """Decimal up to the width, hexadecimal past it (VMD's convention), wrapping past that."""
    if value < 10**width:
        return f"{value:{width}d}"
    return f"{value % 16**width:{width}x}"


def write_pdb(data_lmp: str | os.PathLike[str], pdb: str | os.PathLike[str],
              force_field: str | os.PathLike[str] | None = None) -> int:
    """Writes `pdb` from the box of `data_lmp`; returns the number of atoms. The file appears whole
    or not at all. Elements come from the "element" entries of `force_field` when it has them."""
    try:
        with open(data_lmp, encoding="utf-8") as f:
            lines = f.read().splitlines()
        (a, b, c), atoms = _atoms_of(lines)
        bonds = _read_bonds(lines)
    except (StopIteration, ValueError) as e:
        raise ValueError(f"{os.fsdecode(data_lmp)} has no box or Atoms section as cellkit writes them") from e
    given = _elements_of(force_field)
    alpha = beta = gamma = 90.0
    tilts = [line.split()[:3] for line in lines if line.endswith(" xy xz yz")]
    if tilts:
        # LAMMPS's restricted triclinic box is PDB's orientation too: a along x, b in the xy plane.
        xy, xz, yz = map(float, tilts[0])
        ly, lz = b, c
        b, c = math.hypot(ly, xy), math.sqrt(lz * lz + xz * xz + yz * yz)
        alpha = math.degrees(math.acos((xy * xz + ly * yz) / (b * c)))
        beta, gamma = math.degrees(math.acos(xz / c)), math.degrees(math.acos(xy / b))
    out = [f"CRYST1{a:9.3f}{b:9.3f}{c:9.3f}{alpha:7.2f}{beta:7.2f}{gamma:7.2f} P 1           1",
           f"REMARK   1 {len(atoms)} atoms from {os.fsdecode(data_lmp)}"]
    for serial, (mol, type_name, mol_name, x, y, z) in enumerate(atoms, start=1):
        name = type_name[:4] if len(type_name) >= 4 else f" {type_name:<3}"
        out.append(f"HETATM{_number(serial, 5)} {name} {mol_name[:3]:<3}  {_number(mol, 4)}    "
                   f"{x:8.3f}{y:8.3f}{z:8.3f}  1.00  0.00          {element_of(type_name, given)[:2]:>2}")
    if len(atoms) < 100_000:
        partners: dict[int, list[int]] = {}
        for i, j in bonds:
            partners.setdefault(i, []).append(j)
            partners.setdefault(j, []).append(i)
        for atom in sorted(partners):
            for k in range(0, len(partners[atom]), 4):
                out.append("CONECT" + "".join(f"{n:5d}" for n in (atom, *partners[atom][k:k + 4])))
    out.append("END")
    target = os.fspath(pdb)
    try:
        # Created if missing, as the output directory is.
        os.makedirs(os.path.dirname(os.path.abspath(target)), exist_ok=True)
        fd, tmp = tempfile.mkstemp(dir=os.path.dirname(os.path.abspath(target)), prefix=".cellkit-", suffix=".pdb")
    except OSError as e:
        raise OSError(e.errno, f"writing {target}: {e.strerror}") from None
    try:
        with os.fdopen(fd, "w", encoding="utf-8") as f:
            f.write("\n".join(out) + "\n")
        os.chmod(tmp, 0o644)  # mkstemp's 0600 would hide the file from other viewers
        os.replace(tmp, target)
    except BaseException as e:
        os.unlink(tmp)
        if isinstance(e, OSError):
            raise OSError(e.errno, f"writing {target}: {e.strerror}") from None
        raise
    return len(atoms)
