"""simple_DEG's one-pass route gives what one simple_DEG_pair call per comparison gives."""

import numpy as np
import pandas as pd
import pytest

from orvalen import deg


def table_and_groups():
    rng = np.random.default_rng(7)
    groups = ["A"] * 5 + ["B"] * 4 + [np.nan] * 2 + ["C"] * 6 + ["D"] + ["B"] * 3
    x = rng.normal(5.0, 1.0, (300, len(groups)))
    x[:40, :5] += 2.0
    # Nearly constant genes: the rest's variance must survive merging groups.
    x[40:60] = 1e3 + rng.normal(0, 1e-4, (20, len(groups)))
    x[60:70, :9] = 4.0  # constant within the groups: not testable
    x[rng.random(x.shape) < 0.05] = np.nan
    df = pd.DataFrame(x, index=[f"g{i}" for i in range(len(x))], columns=[f"s{j}" for j in range(len(groups))])
    return df, groups


@pytest.mark.parametrize("ref", [None, "B"])
def test_one_pass_matches_the_per_comparison_route(monkeypatch, capsys, ref):
    df, groups = table_and_groups()
    fast = deg.simple_DEG(df, groups, ref_condition=ref, pval_cutoff=0.2, logFC_cutoff=0.05)
    fast_out = capsys.readouterr().out
    own = deg.simple_DEG_pair
    monkeypatch.setattr(deg, "simple_DEG_pair", lambda *a, **k: own(*a, **k))
    slow = deg.simple_DEG(df, groups, ref_condition=ref, pval_cutoff=0.2, logFC_cutoff=0.05)
    assert capsys.readouterr().out == fast_out
    want_keys = ["A_vs_others", "C_vs_others"] + (["B_vs_others"] if ref is None else [])
    for got, want in zip(fast, slow):
        assert list(got) == list(want)
        assert sorted(got) == sorted(want_keys)  # D (one sample) and the missing label give no comparison
        for key in got:
            assert list(got[key].index) == list(want[key].index)
            assert list(got[key].columns) == list(want[key].columns)
            np.testing.assert_allclose(got[key].to_numpy(), want[key].to_numpy(), rtol=1e-10)
