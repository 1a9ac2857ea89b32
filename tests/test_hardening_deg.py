"""The two commonest wrong-shape calls of the DEG entry points raise ValueError
saying which layout is expected."""

import numpy as np
import pandas as pd
import pytest

from orvalen import deg

LAYOUT = "expected genes as rows, one condition per sample column"


@pytest.fixture
def pseudo_bulk():
    rng = np.random.default_rng(0)
    genes = ["g%d" % i for i in range(400)]
    samples = ["s%d" % i for i in range(8)]
    return pd.DataFrame(rng.random((400, 8)) + 1, index=genes, columns=samples)


@pytest.mark.parametrize("call", [deg.simple_DEG_pair, deg.simple_DEG])
def test_wrong_shape_calls(pseudo_bulk, call):
    conds = ["ctrl"] * 4 + ["stim"] * 4
    # Samples as rows, their condition in a column.
    untransposed = pseudo_bulk.T.assign(condition=conds)
    with pytest.raises(ValueError, match=LAYOUT + " holding numbers; could not convert string to float: 'ctrl'"):
        call(untransposed, conds)
    # One label per cell (or per gene) instead of per sample column, as a list and as a Series.
    per_cell = ["ctrl", "stim"] * 200
    for labels in (per_cell, pd.Series(per_cell)):
        with pytest.raises(ValueError, match=LAYOUT + "; got 400 conditions for 8 columns"):
            call(pseudo_bulk, labels)
