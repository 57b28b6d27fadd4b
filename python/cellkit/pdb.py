"""The packed box as a PDB file, for a look in VMD or OVITO: CRYST1 with the box, one residue per
molecule, atoms named after their pseudo-atom types. Read back from the written data.lmp, so it
shows exactly what LAMMPS will read."""

from __future__ import annotations

import os
import tempfile

__all__ = ["read_atoms", "write_pdb"]


Edges = tuple[float, float, float]


def read_atoms(data_lmp: str) -> tuple[Edges, list[tuple[int, str, str, float, float, float]]]:
    """Box edges (x, y, z) and (molecule ID, type name, molecule name, x, y, z) per atom, in file order."""
    with open(data_lmp, encoding="utf-8") as f:
        lines = f.read().splitlines()
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


def write_pdb(data_lmp: str | os.PathLike[str], pdb: str | os.PathLike[str]) -> int:
    """Writes `pdb` from the box of `data_lmp`; returns the number of atoms. The file appears whole
    or not at all. Serial and residue numbers wrap past the widths PDB allows (99999, 9999)."""
    try:
        (a, b, c), atoms = read_atoms(os.fspath(data_lmp))
    except (StopIteration, ValueError) as e:
        raise ValueError(f"{os.fsdecode(data_lmp)} has no box or Atoms section as cellkit writes them") from e
    out = [f"CRYST1{a:9.3f}{b:9.3f}{c:9.3f}{90:7.2f}{90:7.2f}{90:7.2f} P 1           1",
           f"REMARK   1 {len(atoms)} atoms from {os.fsdecode(data_lmp)}"]
    for serial, (mol, type_name, mol_name, x, y, z) in enumerate(atoms, start=1):
        name = type_name[:4] if len(type_name) >= 4 else f" {type_name:<3}"
        out.append(f"HETATM{serial % 100000:5d} {name} {mol_name[:3]:<3}  {mol % 10000:4d}    "
                   f"{x:8.3f}{y:8.3f}{z:8.3f}  1.00  0.00")
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
