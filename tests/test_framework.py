"""Frameworks from CIF files: the cell, the atoms of the unit cell matched to framework pseudo-atoms, the
cells a box needs for a cut-off."""

from __future__ import annotations

import math

import pytest

from helpers import raspa3_examples_dir, write_json

gemmi = pytest.importorskip("gemmi")
from cellkit.framework import Cell, cells_for, read_framework  # noqa: E402

MONOCLINIC = """data_tilted
_cell_length_a 6.0
_cell_length_b 7.0
_cell_length_c 8.0
_cell_angle_alpha 90
_cell_angle_beta 116.64
_cell_angle_gamma 90
_symmetry_space_group_name_H-M 'P 1'
loop_
_symmetry_equiv_pos_as_xyz
 'x,y,z'
 '-x,-y,-z'
loop_
_atom_site_label
_atom_site_type_symbol
_atom_site_fract_x
_atom_site_fract_y
_atom_site_fract_z
_atom_site_charge
Zn1 Zn 0.25 0.25 0.25 1.5
O12 O 0.0 0.0 0.0 -0.75
"""


def framework_ff(path, names=("Zn", "O")):
    return write_json(path, {"MixingRule": "Lorentz-Berthelot", "PseudoAtoms": [
        *({"name": n, "framework": True, "mass": 16.0, "charge": 0.1 * (i + 1)} for i, n in enumerate(names)),
        {"name": "CH4", "framework": False, "mass": 16.04, "charge": 0.0}]})


def test_a_tilted_cell_its_atoms_and_the_cells_a_cut_off_needs(tmp_path):
    (tmp_path / "tilted.cif").write_text(MONOCLINIC)
    fw = read_framework(tmp_path / "tilted.cif", framework_ff(tmp_path / "ff.json"))
    assert (fw.name, fw.sites, fw.cell) == ("tilted", 2, Cell(6.0, 7.0, 8.0, 90.0, 116.64, 90.0))
    # The inversion copies Zn to 0.75 and O onto itself (0 is -0 in the cell): one atom each then.
    assert sorted((a.label, a.pseudo_atom, a.fractional, a.charge) for a in fw.atoms) == [
        ("O12", "O", (0.0, 0.0, 0.0), 0.2), ("Zn1", "Zn", (0.25, 0.25, 0.25), 0.1),
        ("Zn1", "Zn", (0.75, 0.75, 0.75), 0.1)]
    assert [a.charge for a in read_framework(tmp_path / "tilted.cif", tmp_path / "ff.json", cif_charges=True).atoms] \
        == [1.5, 1.5, -0.75]
    # LAMMPS's restricted triclinic: a along x, c tilted in the xz plane by beta.
    a, b, c = fw.cell.vectors()
    beta = math.radians(116.64)
    assert a == (6.0, 0.0, 0.0) and b == pytest.approx((0.0, 7.0, 0.0), abs=1e-12)
    assert c == pytest.approx((8.0 * math.cos(beta), 0.0, 8.0 * math.sin(beta)))
    # Widths across a and c shrink by sin(beta); b stands square to both.
    assert fw.cell.widths() == pytest.approx((6.0 * math.sin(beta), 7.0, 8.0 * math.sin(beta)))
    for cutoff, cells in [(2.6, (1, 1, 1)), (2.7, (2, 1, 1)), (12.0, (5, 4, 4))]:
        assert cells_for(fw.cell, cutoff) == cells, cutoff


@pytest.mark.parametrize("names, fault", [
    (("Zn1", "O"), None),  # a label as written
    (("Zn", "O1"), "site 'O12' matches no framework pseudo-atom"),  # only trailing digits are dropped, all of them
    (("Zn",), "site 'O12' matches no framework pseudo-atom of {ff}, as written or without its trailing digits "
              "(its framework pseudo-atoms: Zn)"),
])
def test_labels_name_framework_pseudo_atoms(tmp_path, names, fault):
    (tmp_path / "tilted.cif").write_text(MONOCLINIC)
    ff = framework_ff(tmp_path / "ff.json", names)
    if fault is None:
        assert {a.pseudo_atom for a in read_framework(tmp_path / "tilted.cif", ff).atoms} == {"Zn1", "O"}
        return
    with pytest.raises(ValueError, match="^" + re_escape(f"{tmp_path / 'tilted.cif'}: " + fault.format(ff=ff))):
        read_framework(tmp_path / "tilted.cif", ff)


def re_escape(text: str) -> str:
    import re

    return re.escape(text)


def test_a_file_gemmi_cannot_read_is_named(tmp_path):
    (tmp_path / "broken.cif").write_text("data_x\n_cell_length_a 'unclosed\n")
    with pytest.raises(ValueError, match="broken.cif cannot be read as a CIF file"):
        read_framework(tmp_path / "broken.cif", framework_ff(tmp_path / "ff.json"))
    with pytest.raises(ValueError, match="the cut-off must be a positive number"):
        cells_for(Cell(10, 10, 10, 90, 90, 90), 0.0)


def test_raspa3s_mfi_framework():
    example = raspa3_examples_dir() / "mfi_methane_gcmc"
    if not example.is_dir():
        pytest.skip("RASPA3's examples are not here")
    fw = read_framework(example / "MFI_SI.cif", example / "force_field.json")
    assert (fw.sites, fw.space_group, len(fw.atoms)) == (38, "P n m a", 288)
    assert sum(a.pseudo_atom == "Si" for a in fw.atoms) == 96 and sum(a.pseudo_atom == "O" for a in fw.atoms) == 192
    # Orthorhombic: the widths are the edges, and a 12 Å cut-off needs two cells along each.
    assert fw.cell.widths() == pytest.approx((20.022, 19.899, 13.383))
    assert cells_for(fw.cell, 12.0) == (2, 2, 2) and cells_for(fw.cell, 10.0) == (1, 2, 2)
