"""A framework loaded by RASPA3's grand-canonical Monte Carlo: RASPA3's MFI zeolite with methane."""

from __future__ import annotations

import importlib.util
import json
import re

import numpy as np
import pytest

from helpers import raspa3_examples_dir, write_json

pytestmark = pytest.mark.skipif(importlib.util.find_spec("raspalib") is None or importlib.util.find_spec("gemmi")
                                is None, reason="needs raspalib and gemmi")


@pytest.fixture
def mfi():
    from cellkit.framework import read_framework

    example = raspa3_examples_dir() / "mfi_methane_gcmc"
    if not example.is_dir():
        pytest.skip("RASPA3's MFI example is not here")
    return example, read_framework(example / "MFI_SI.cif", example / "force_field.json")


def test_methane_loads_mfi_and_comes_back_as_positions(mfi):
    from cellkit.gcmc import gcmc_with_raspa3

    example, framework = mfi
    loading = gcmc_with_raspa3(framework, [example / "methane.json"], example / "force_field.json", 300.0, 1.0e5,
                               n_init_cycles=300, n_prod_cycles=300, seed=7)
    assert loading.cells == (2, 2, 2)  # the widths twice the 12 Å cut-off
    assert (loading.box.a, loading.box.b, loading.box.c) == pytest.approx((40.044, 39.798, 26.766))
    # The framework: 288 atoms a cell, the first cell's where the CIF puts them, the next ones one edge on.
    atoms = np.array(loading.framework)
    cell = np.array([framework.cell.a, framework.cell.b, framework.cell.c])
    assert atoms.shape == (8 * 288, 3)
    first = np.array([a.fractional for a in framework.atoms]) * cell
    assert np.allclose(atoms[:288], first, atol=1e-6)
    copies = [atoms[k * 288:(k + 1) * 288] - first for k in range(8)]
    shifts = sorted(tuple(np.round(c.mean(axis=0) / cell).astype(int)) for c in copies)
    assert shifts == [(i, j, k) for i in (0, 1) for j in (0, 1) for k in (0, 1)]
    # The guests: one atom each, as many as RASPA3 counts, inside the box by their centre; a loading of
    # about 20 to 30 molecules in two by two by two cells at 1 bar.
    (methane,) = loading.molecules
    assert len(methane) == loading.final[0] and all(len(m) == 1 for m in methane)
    assert 10 < loading.average[0][0] < 45 and loading.average[0][1] > 0
    # Per unit cell and per kg of framework: 96 Si and 192 O a cell, by the force field's masses.
    mean, error = loading.average[0]
    assert loading.per_unit_cell(0) == pytest.approx((mean / 8, error / 8))
    cell_mass = 96 * 28.0855 + 192 * 15.9994
    assert loading.mol_per_kg(0) == pytest.approx((mean / (8 * cell_mass / 1000), error / (8 * cell_mass / 1000)))
    assert str(loading).startswith(f"loading in 2 × 2 × 2 unit cells:\n  methane: {loading.final[0]} at the end; "
                                   f"average {mean:.2f} ± {error:.2f} molecules, {mean / 8:.3f} ± {error / 8:.3f} per "
                                   "unit cell, ")


def test_what_cannot_be_loaded_is_refused(mfi, tmp_path):
    from cellkit.gcmc import gcmc_with_raspa3

    example, framework = mfi
    methane = json.loads((example / "methane.json").read_text())
    no_constants = write_json(tmp_path / "plain.json", {k: v for k, v in methane.items() if not k.startswith(("Crit",
                                                                                                              "Acen"))})
    silicon = write_json(tmp_path / "silicon.json", {**methane, "pseudoAtoms": [["Si", [0.0, 0.0, 0.0]]]})
    ff, guest = example / "force_field.json", example / "methane.json"
    for args, fault in [
        (([guest], ff, 300.0, 0.0), "pressure must be a positive finite number (Pa), got 0.0"),
        (([silicon], ff, 300.0, 1e5), f"{silicon}: pseudo-atom Si belongs to the framework, not to a guest molecule"),
        (([no_constants], ff, 300.0, 1e5), f"{no_constants} gives no CriticalTemperature, CriticalPressure, "
                                           "AcentricFactor, which RASPA3 needs"),
    ]:
        with pytest.raises(ValueError, match="^" + re.escape(fault)):
            gcmc_with_raspa3(framework, *args)
    with pytest.raises(ValueError, match=re.escape("1 x 2 x 2 unit cells of MFI_SI are 20.022 Å wide at the "
                                                   "narrowest, less than twice the 12 Å cut-off: take at least "
                                                   "2 x 2 x 2")):
        gcmc_with_raspa3(framework, [guest], ff, 300.0, 1e5, cells=(1, 2, 2))
