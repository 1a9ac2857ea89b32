"""Shared binding behaviour: when a compiled function may skip a rebound helper."""

import numpy as np
import pandas as pd

from orvalen import tolvar


def _table():
    return pd.DataFrame({"mean": [1.0, 2.0], "pval": [0.01, 0.005]}, index=["G1_G2--T|B", "G3_G4--T|NK"])


def test_rebound_splitter_is_called_even_when_it_imitates_the_compiled_one(monkeypatch):
    calls = []

    def impostor(idx):
        calls.append(idx)
        return ("gp", "cp", "ga", "gb", "ca", "cb")

    # Same name and module as the compiled splitter, and the caller rebound too:
    # only the function's own type tells them apart.
    impostor.__name__ = "cpdb_get_gp_n_cp"
    impostor.__module__ = tolvar.__name__
    original = tolvar.cci_get_df_to_plot
    monkeypatch.setattr(tolvar, "cci_get_df_to_plot", lambda *a, **k: original(*a, **k))
    monkeypatch.setattr(tolvar, "cpdb_get_gp_n_cp", impostor)
    got = original({"a": _table()})["a"]
    assert calls == ["G1_G2--T|B", "G3_G4--T|NK"]
    assert got["gene_A"].tolist() == ["ga", "ga"]


def test_results_for_missing_rows_are_filled_per_sample():
    a, b = _table(), _table().iloc[[1]]
    got = tolvar.cci_get_df_to_plot({"a": a, "b": b})
    assert got["b"]["mean"].tolist() == [0.0, 2.0] and got["b"]["pval"].tolist() == [1.0, 0.005]
    means = tolvar.cci_get_means({"a": a, "b": b})
    np.testing.assert_array_equal(means.loc["b"].to_numpy(), [np.nan, 2.0])
