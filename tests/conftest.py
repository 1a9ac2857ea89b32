import os

# Figures are drawn off screen in tests.
os.environ.setdefault("MPLBACKEND", "Agg")


import numpy as np
import pandas as pd
import pytest


@pytest.fixture
def scale_adata():
    """A small study whose X has stored NaNs and whose obs has unlabelled cells."""
    import anndata as ad
    import scipy.sparse as sp

    rng = np.random.default_rng(7)
    n_cells, n_genes = 97, 11
    x = rng.gamma(1.0, 2.0, (n_cells, n_genes)).astype(np.float32)
    x[rng.random(x.shape) < 0.6] = 0
    x[3, 2] = x[40, 5] = np.nan
    samples = pd.Series(rng.choice(["s4", "s1", "s12", "s2"], n_cells)).astype(object)
    cond = samples.map({"s4": "ctl", "s1": "trt", "s12": "ctl", "s2": "trt"})
    cluster = pd.Series(rng.choice(["b", "a", None], n_cells))
    obs = pd.DataFrame(
        {"sample": pd.Categorical(samples), "condition": cond.to_numpy(), "cluster": pd.Categorical(cluster)},
        index=[f"c{i}" for i in range(n_cells)],
    )
    return ad.AnnData(X=sp.csr_matrix(x), obs=obs, var=pd.DataFrame(index=[f"G{j}" for j in range(n_genes)]))


@pytest.fixture
def expression_results():
    """Every per-group statistic the package reads from X, for one AnnData."""
    from orvalen import deg, tolvar

    genes = ["G7", "G2", "G7"]

    def run(adata):
        return [
            tolvar.get_gene_expression(adata),
            tolvar.get_gene_expression(adata, genes, group_col="cluster"),
            deg.get_gene_expression_mean(adata, nz_pct=False),
            deg.get_gene_expression_mean(adata, genes=genes, nz_pct=False),
            deg.get_gene_expression_mean(adata, nz_pct=True, min_nz_pct=0.3),
        ]

    return run


@pytest.fixture
def same_results():
    """Frames equal in labels, order and dtypes; values to 1e-12 relative."""

    def check(got, want):
        assert len(got) == len(want)
        for g, w in zip(got, want):
            pd.testing.assert_frame_equal(g, w, check_exact=False, rtol=1e-12, atol=0)

    return check


@pytest.fixture(scope="session")
def dask_client():
    """Two single-threaded worker processes on the loopback interface."""
    distributed = pytest.importorskip("distributed")
    with (
        distributed.LocalCluster(
            n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1", dashboard_address="127.0.0.1:0"
        ) as cluster,
        distributed.Client(cluster) as client,
    ):
        yield client
