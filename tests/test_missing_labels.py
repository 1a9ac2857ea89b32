"""Cells lacking a sample or group label are left out of every table."""

import anndata as ad
import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp

from orvalen import deg, tolvar


@pytest.mark.parametrize(
    "missing", [np.float32("nan"), np.float16("nan"), np.datetime64("NaT", "ns"), pd.NaT, pd.NA], ids=repr
)
def test_missing_labels_of_any_kind_are_left_out(missing):
    labels = np.array([missing, missing, "p1"], dtype=object)
    cnt, _ = tolvar.get_population(labels, ["a", "b", "c"], [])
    assert list(cnt.index) == ["p1"] and cnt.to_numpy().tolist() == [[1]]


def test_missing_labels_are_left_out_everywhere():
    cnt, pct = tolvar.get_population(["p1", "p1", "p2", np.nan], ["a", "b", np.nan, "z"])
    want = pd.crosstab(pd.Series(["p1", "p1", "p2", np.nan]), pd.Series(["a", "b", np.nan, "z"]))
    assert cnt.to_numpy().tolist() == want.to_numpy().tolist() == [[1, 1]]
    assert list(cnt.index) == ["p1"] and list(cnt.columns) == ["a", "b"]
    np.testing.assert_allclose(pct.sum(axis=1), 100.0)

    samples = pd.Series(["s2", None, "s1", "s2", np.nan, "s1"], dtype=object)
    conds = pd.Series(["B", "X", "A", "B", "Y", "A"], dtype=object)
    for labels in (samples, samples.astype("category"), samples.tolist()):
        assert deg.get_sample_to_group_dict(labels, conds) == {"s1": "A", "s2": "B"}
        assert list(tolvar.get_sample_to_group_map(labels, conds)) == ["s1", "s2"]

    x = np.array([[1, 0], [5, 5], [3, 1], [0, 2], [7, 7], [2, 0]], dtype=np.float32)
    obs = pd.DataFrame({"sample": samples.to_numpy(), "condition": conds.to_numpy()}, index=[f"c{i}" for i in range(6)])
    keep = samples.notna().to_numpy()
    for X in (x, sp.csr_matrix(x)):
        adata = ad.AnnData(X=X, obs=obs, var=pd.DataFrame(index=["g0", "g1"]))
        mean = deg.get_gene_expression_mean(adata, nz_pct=False)
        assert list(mean.index) == ["s1", "s2"] and list(mean["Group"]) == ["A", "B"]
        np.testing.assert_allclose(mean[["g0", "g1"]], [[2.5, 0.5], [0.5, 1.0]])
        frac = deg.get_gene_expression_mean(adata, min_nz_pct=0.0)
        expr = tolvar.get_gene_expression(adata)
        np.testing.assert_allclose(frac[["g0", "g1"]], expr, rtol=0, atol=0)
        want = pd.DataFrame(x[keep] > 0, columns=["g0", "g1"]).groupby(samples[keep].to_numpy()).mean()
        np.testing.assert_allclose(expr, want)
