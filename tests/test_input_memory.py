"""Reading an input file takes memory in proportion to what is kept, not to what is skipped."""

import pathlib

import pytest

from test_output_directory import FF, start_build


@pytest.mark.skipif(not pathlib.Path("/proc/self/status").exists(), reason="needs /proc for peak RSS")
@pytest.mark.parametrize("item", ["1", "{}"], ids=["numbers", "empty-objects"])
def test_skipped_key_costs_little_more_than_its_text(tmp_path, item):
    # The example force field with an unknown first key holding [item,item,...] of about 50 MB.
    chunk = (item + ",") * 100_000
    big = tmp_path / "big.json"
    big.write_text(f'{{"comment": [{chunk * (50_000_000 // len(chunk))}{item}], {FF.read_text().lstrip()[1:]}')
    peak = {}  # KiB; the small file's: the interpreter and the module
    for ff in (big, FF):
        out, err = (child := start_build(tmp_path / ff.stem, 1, ff)).communicate(timeout=300)
        assert child.returncode == 0 and (tmp_path / ff.stem / "data.lmp").exists(), err
        peak[ff] = int(out) * 1024
    # The text is read whole; one token list or copy per skipped value would cost many times more.
    assert peak[big] - peak[FF] < 3 * big.stat().st_size, (peak, big.stat().st_size)
