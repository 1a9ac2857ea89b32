"""simple_DEG_adata against simple_DEG on the dense genes x cells table, and against scipy's Welch test."""

import anndata as ad
import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp
import scipy.stats

import orvalen
from orvalen import deg


def study(nan):
    """Cells of five groups: one of a single cell, one small cluster where two markers are switched off."""
    rng = np.random.default_rng(5)
    n_cells, n_genes = 160, 30
    labels = rng.choice(["T", "B", "NK", "Mono"], n_cells).astype(object)
    labels[:6], labels[50] = "DC", "pDC"
    x = rng.gamma(1.5, 1.0, (n_cells, n_genes))
    x[rng.random(x.shape) < 0.5] = 0
    x[labels == "DC", :2] = 0  # switched-off markers
    x[:, 2] = 1.25  # constant everywhere
    x[labels == "B", 3] += 3.0
    if nan:
        x[rng.random(x.shape) < 0.05] = np.nan
        labels[[7, 90]] = None
    obs = pd.DataFrame({"cell_type": pd.Categorical(labels)}, index=[f"c{i}" for i in range(n_cells)])
    return ad.AnnData(X=x, obs=obs, var=pd.DataFrame(index=[f"g{j}" for j in range(n_genes)]))


@pytest.mark.parametrize("kind", ["dense", "csr", "backed", "dask"])
def test_equals_simple_DEG_on_dense_table(tmp_path, monkeypatch, capsys, kind):
    # Both modes (one-vs-rest, against a reference); NaN and missing labels on all but dense.
    ref, nan = ("T" if kind in ("csr", "dask") else None), kind != "dense"
    a = study(nan)
    kw = dict(ref_condition=ref, pval_cutoff=0.2, logFC_cutoff=0.3)
    want = deg.simple_DEG(a.to_df().T, a.obs["cell_type"], **kw)
    printed = capsys.readouterr().out
    if kind in ("csr", "backed"):
        a.X = sp.csr_matrix(a.X)
    if kind == "backed":
        monkeypatch.setattr(orvalen.settings, "block_bytes", 2048)  # blocks cut through the groups
        a.write_h5ad(tmp_path / "s.h5ad")
        a = ad.read_h5ad(tmp_path / "s.h5ad", backed="r")
    elif kind == "dask":
        da = pytest.importorskip("dask.array")
        a.X = da.from_array(a.X, chunks=((70, 1, 89), (30,)))
    got = deg.simple_DEG_adata(a, "cell_type", **kw)
    assert capsys.readouterr().out == printed
    for g, w in zip(got, want):
        assert list(g) == list(w)
        for key in w:
            pd.testing.assert_frame_equal(g[key], w[key], check_exact=False, rtol=1e-9, atol=0)


def test_layer_switched_off_marker_and_errors():
    a = study(False)
    a.layers["log"] = a.X
    a.X = np.zeros_like(a.X)
    default = deg.simple_DEG_adata(a, "cell_type", layer="log", verbose=False)[1]["DC_vs_others"]
    tested = deg.simple_DEG_adata(a, "cell_type", layer="log", verbose=False, min_std=0)[1]["DC_vs_others"]
    assert {"g0", "g1"}.isdisjoint(default.index) and {"g0", "g1"} <= set(tested.index)
    assert "g2" not in tested.index  # constant on both sides: nothing to test
    with pytest.raises(ValueError, match=r"ref_condition 'X' must be in \['"):
        deg.simple_DEG_adata(a, "cell_type", ref_condition="X", verbose=False)
    with pytest.raises(ValueError, match="min_std"):
        deg.simple_DEG_adata(a, "cell_type", min_std=-1, verbose=False)


@pytest.mark.filterwarnings("ignore:Precision loss:RuntimeWarning")  # scipy, on groups constant at a scaled zero
def test_one_vs_rest_pvalues_equal_scipy_welch_on_pbmc68k_reduced():
    sc = pytest.importorskip("scanpy")
    a = sc.datasets.pbmc68k_reduced()
    a.X = a.X.astype(np.float64)
    full = deg.simple_DEG_adata(a, "bulk_labels", verbose=False, min_std=0, corr_method=None)[1]
    labels = a.obs["bulk_labels"].to_numpy()
    assert len(full) == len(pd.unique(labels))
    for key, table in full.items():
        inside = labels == key[: -len("_vs_others")]
        want = scipy.stats.ttest_ind(a.X[inside], a.X[~inside], equal_var=False).pvalue
        want = pd.Series(want, index=a.var_names).dropna()
        assert set(table.index) == set(want.index)
        np.testing.assert_allclose(table["pval"], want[table.index], rtol=1e-9, atol=0)
