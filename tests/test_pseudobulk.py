"""get_pseudobulk against pandas groupby across input kinds, backed, Dask, and into pydeseq2."""

import anndata as ad
import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp

import orvalen
from orvalen import deg
from tests.reference.pseudobulk import reference_pseudobulk

STATS = ["sum", "mean", "var", "count_nonzero", "count", "detected"]
KEYS = ["sample", "cell_type"]


def study(dtype=np.float64, n_cells=300, n_genes=9, seed=0):
    """Counts with NaN (floats), a missing sample, a one-cell group, a layer."""
    rng = np.random.default_rng(seed)
    x = (rng.poisson(1.5, (n_cells, n_genes)) * (rng.random((n_cells, n_genes)) < 0.5)).astype(dtype)
    if np.issubdtype(dtype, np.floating):
        x[rng.random(x.shape) < 0.03] = np.nan
    sample = rng.choice(["s3", "s1", "s2", "s4"], n_cells).astype(object)
    sample[7], sample[11] = None, "s5"
    obs = pd.DataFrame(
        {
            "sample": sample,
            "cell_type": pd.Categorical(rng.choice(["T", "B"], n_cells), categories=["B", "T", "NK"]),
            "batch": rng.choice(["x", "y"], n_cells),
        },
        index=[f"c{i}" for i in range(n_cells)],
    )
    obs["condition"] = obs["sample"].map({"s1": "ctl", "s2": "trt", "s3": "ctl", "s4": "trt", "s5": "ctl"})
    a = ad.AnnData(x, obs=obs, var=pd.DataFrame(index=[f"G{j}" for j in range(n_genes)]))
    a.layers["counts"] = x * 2
    return a


def expect_reference(pb, x, obs, stat, keys=KEYS):
    want = reference_pseudobulk(x, obs, keys, stat)
    labels = pd.MultiIndex.from_frame(pb.obs[keys]) if len(keys) > 1 else pb.obs[keys[0]]
    want = want.loc[labels]
    got = pb.layers[stat]
    narrowed = x.dtype == np.float32 and stat in ("mean", "var")
    assert got.dtype == (np.float32 if narrowed else np.float64)
    if narrowed:  # rounded once from float64
        want = want.astype(np.float32)
    np.testing.assert_allclose(got, want.to_numpy(), rtol=1e-6 if narrowed else 1e-10, atol=1e-12)


@pytest.mark.parametrize("stat", STATS)
@pytest.mark.parametrize("kind", ["float64", "float32", "int32", "csr", "csc"])
def test_each_statistic_equals_pandas(stat, kind):
    a = study(np.int32 if kind == "int32" else np.float32 if kind == "float32" else np.float64)
    x = a.X
    if kind in ("csr", "csc"):
        a.X = sp.csr_matrix(x) if kind == "csr" else sp.csc_matrix(x)
    pb = deg.get_pseudobulk(a, KEYS, stats=[stat, "sum"] if stat != "sum" else stat)
    expect_reference(pb, x, a.obs, stat)
    # Cells with a missing key are in no group; the one-cell group's variance is NaN.
    assert pb.obs["n_cells"].sum() == a.n_obs - 1
    if stat == "var":
        assert np.isnan(pb[pb.obs["sample"] == "s5"].layers["var"]).all()


def test_groups_obs_layer_genes_min_cells():
    a = study()
    a.X = sp.csr_matrix(a.X)
    genes = ["G4", "G0"]
    pb = deg.get_pseudobulk(a, KEYS, stats=["sum", "var"], layer="counts", genes=genes, min_cells=2)
    # First-appearance order, key dtypes kept, constant obs columns carried, others not.
    sizes = a.obs.groupby(KEYS, observed=True).size()
    first = [(s, c) for s, c in a.obs[KEYS].dropna().drop_duplicates().itertuples(index=False) if sizes[s, c] >= 2]
    assert list(pb.obs.columns) == ["sample", "cell_type", "n_cells", "condition"]
    assert list(pb.obs_names) == [f"{s}_{c}" for s, c in first]
    assert pb.obs["cell_type"].dtype == a.obs["cell_type"].dtype
    assert "s5" not in set(pb.obs["sample"]) and (pb.obs["n_cells"] >= 2).all()
    assert list(pb.var_names) == genes and pb.X is pb.layers["sum"]
    with pytest.warns(UserWarning, match="no group"):
        assert deg.get_pseudobulk(a, KEYS, min_cells=10**6).n_obs == 0
    kept = a.obs["sample"].isin(pb.obs["sample"]).to_numpy()
    for stat in ("sum", "var"):
        expect_reference(pb, a.layers["counts"][kept][:, [4, 0]], a.obs[kept], stat)


def test_backed_equals_in_memory(tmp_path, monkeypatch):
    monkeypatch.setattr(orvalen.settings, "block_bytes", 256)
    a = study(np.float32)
    a.X = sp.csr_matrix(a.X)
    a.write_h5ad(tmp_path / "pb.h5ad")
    backed = ad.read_h5ad(tmp_path / "pb.h5ad", backed="r")
    want = deg.get_pseudobulk(a, KEYS, stats=STATS)
    got = deg.get_pseudobulk(backed, KEYS, stats=STATS)
    pd.testing.assert_frame_equal(got.obs, want.obs)
    for stat in STATS:
        np.testing.assert_allclose(got.layers[stat], want.layers[stat], rtol=1e-6)


@pytest.mark.parametrize("sparse", [False, True])
def test_dask_equals_in_memory(sparse):
    da = pytest.importorskip("dask.array")
    import dask

    a = study(np.float64)
    lazy = a.copy()
    lazy.X = da.from_array(sp.csr_matrix(a.X) if sparse else a.X, chunks=(70, 4), asarray=False)
    want = deg.get_pseudobulk(a, "sample", stats=STATS)
    with dask.config.set(scheduler="synchronous"):
        got = deg.get_pseudobulk(lazy, "sample", stats=STATS, genes=["G2", "G8"])
    for stat in STATS:
        np.testing.assert_allclose(got.layers[stat], want[:, ["G2", "G8"]].layers[stat], rtol=1e-12)


@pytest.mark.parametrize(
    "call,error,match",
    [
        (dict(stats="median"), ValueError, "known: detected, mean, sum, var, count_nonzero, count"),
        (dict(stats=["sum", "sum"]), ValueError, "twice"),
        (dict(layer="raw"), KeyError, "its layers are: counts"),
        (dict(genes=["G1", "nope"]), KeyError, "nope"),
        (dict(group_cols="donor"), KeyError, "donor"),
        (dict(min_cells=-1), ValueError, "min_cells"),
    ],
)
def test_bad_arguments_raise(call, error, match):
    with pytest.raises(error, match=match):
        deg.get_pseudobulk(study(), **call)


# pydeseq2 warns about the few samples of a small study.
@pytest.mark.filterwarnings("ignore::UserWarning")
def test_sums_run_through_pydeseq2():
    pytest.importorskip("pydeseq2", minversion="0.5")
    from pydeseq2.dds import DeseqDataSet
    from pydeseq2.ds import DeseqStats

    a = study(np.int64, n_cells=600, n_genes=30, seed=3)
    pb = deg.get_pseudobulk(a, "sample", min_cells=10)
    dds = DeseqDataSet(adata=pb, design="~condition", quiet=True)
    dds.deseq2()
    res = DeseqStats(dds, contrast=["condition", "trt", "ctl"], quiet=True)
    res.summary()
    assert list(res.results_df.index) == list(pb.var_names)
    assert np.isfinite(res.results_df["log2FoldChange"]).all()
