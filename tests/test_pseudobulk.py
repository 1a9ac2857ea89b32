"""get_pseudobulk against pandas groupby across input kinds (backed and Dask included), and into pydeseq2."""

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


def study(dtype=np.float64):
    """Counts with NaN (floats), a missing sample, a one-cell group, a layer."""
    rng, n_cells, n_genes = np.random.default_rng(0), 300, 9
    x = (rng.poisson(1.5, (n_cells, n_genes)) * (rng.random((n_cells, n_genes)) < 0.5)).astype(dtype)
    if np.issubdtype(dtype, np.floating):
        x[rng.random(x.shape) < 0.03] = np.nan
    sample = rng.choice(["s3", "s1", "s2", "s4"], n_cells).astype(object)
    sample[7], sample[11] = None, "s5"
    cell_type = pd.Categorical(rng.choice(["T", "B"], n_cells), categories=["B", "T", "NK"])
    batch = rng.choice(["x", "y"], n_cells)
    obs = pd.DataFrame(dict(sample=sample, cell_type=cell_type, batch=batch), index=[f"c{i}" for i in range(n_cells)])
    obs["condition"] = obs["sample"].map({"s1": "ctl", "s2": "trt", "s3": "ctl", "s4": "trt", "s5": "ctl"})
    a = ad.AnnData(x, obs=obs, var=pd.DataFrame(index=[f"G{j}" for j in range(n_genes)]))
    a.layers["counts"] = x * 2
    return a


def expect_reference(pb, x, obs, stat):
    want = reference_pseudobulk(x, obs, KEYS, stat).loc[pd.MultiIndex.from_frame(pb.obs[KEYS])]
    narrowed = x.dtype == np.float32 and stat in ("mean", "var")
    assert pb.layers[stat].dtype == (np.float32 if narrowed else np.float64)
    if narrowed:  # rounded once from float64
        want = want.astype(np.float32)
    np.testing.assert_allclose(pb.layers[stat], want.to_numpy(), rtol=1e-6 if narrowed else 1e-10, atol=1e-12)


@pytest.mark.parametrize("kind", ["float64", "float32", "int32", "csr", "csc", "backed", "dask", "dask-csr"])
def test_each_statistic_equals_pandas(tmp_path, monkeypatch, kind):
    a = study({"float32": np.float32, "backed": np.float32, "int32": np.int32}.get(kind, np.float64))
    x, genes, cols = a.X, None, slice(None)
    if kind in ("csr", "csc", "backed", "dask-csr"):
        a.X = sp.csc_matrix(x) if kind == "csc" else sp.csr_matrix(x)
    if kind == "backed":
        monkeypatch.setattr(orvalen.settings, "block_bytes", 256)  # blocks cut through the groups
        a.write_h5ad(tmp_path / "pb.h5ad")
        a = ad.read_h5ad(tmp_path / "pb.h5ad", backed="r")
    elif kind.startswith("dask"):
        da = pytest.importorskip("dask.array")
        a.X = da.from_array(a.X, chunks=(70, 4), asarray=False)
        genes, cols = ["G8", "G2"], [8, 2]
    pb = deg.get_pseudobulk(a, KEYS, stats=STATS, genes=genes)
    for stat in STATS:
        expect_reference(pb, x[:, cols], a.obs, stat)
    pd.testing.assert_frame_equal(pb.obs, deg.get_pseudobulk(ad.AnnData(x, obs=a.obs.copy()), KEYS).obs)
    # Cells with a missing key are in no group; the one-cell group's variance is NaN.
    assert pb.obs["n_cells"].sum() == a.n_obs - 1
    assert np.isnan(pb[pb.obs["sample"] == "s5"].layers["var"]).all()


def test_groups_obs_layer_genes_min_cells_and_errors():
    a = study()
    a.X = sp.csr_matrix(a.X)
    genes = ["G4", "G0"]
    pb = deg.get_pseudobulk(a, KEYS, stats=["sum", "var"], layer="counts", genes=genes, min_cells=2)
    # First-appearance order, key dtypes kept, constant obs columns carried, others not.
    sizes = a.obs.groupby(KEYS, observed=True).size()
    first = [(s, c) for s, c in a.obs[KEYS].dropna().drop_duplicates().itertuples(index=False) if sizes[s, c] >= 2]
    assert list(pb.obs.columns) == ["sample", "cell_type", "n_cells", "condition"]
    assert list(pb.obs_names) == [f"{s}_{c}" for s, c in first] and list(pb.obs["n_cells"]) == [sizes[g] for g in first]
    assert pb.obs["cell_type"].dtype == a.obs["cell_type"].dtype
    assert list(pb.var_names) == genes and pb.X is pb.layers["sum"]
    with pytest.warns(UserWarning, match="no group"):
        assert deg.get_pseudobulk(a, KEYS, min_cells=10**6).n_obs == 0
    kept = a.obs["sample"].isin(pb.obs["sample"]).to_numpy()
    for stat in ("sum", "var"):
        expect_reference(pb, a.layers["counts"][kept][:, [4, 0]], a.obs[kept], stat)
    for call, error, match in [
        (dict(stats="median"), ValueError, "known: detected, mean, sum, var, count_nonzero, count"),
        (dict(stats=["sum", "sum"]), ValueError, "twice"),
        (dict(layer="raw"), KeyError, "its layers are: counts"),
        (dict(genes=["G1", "nope"]), KeyError, "nope"),
        (dict(group_cols="donor"), KeyError, "donor"),
        (dict(min_cells=-1), ValueError, "min_cells"),
    ]:
        with pytest.raises(error, match=match):
            deg.get_pseudobulk(a, **call)


# pydeseq2 warns about the few samples of a small study.
@pytest.mark.filterwarnings("ignore::UserWarning")
def test_sums_run_through_pydeseq2():
    pytest.importorskip("pydeseq2", minversion="0.5")
    from pydeseq2.dds import DeseqDataSet
    from pydeseq2.ds import DeseqStats

    pb = deg.get_pseudobulk(study(np.int64), "sample", min_cells=10)
    dds = DeseqDataSet(adata=pb, design="~condition", quiet=True)
    dds.deseq2()
    res = DeseqStats(dds, contrast=["condition", "trt", "ctl"], quiet=True)
    res.summary()
    assert list(res.results_df.index) == list(pb.var_names)
    assert np.isfinite(res.results_df["log2FoldChange"]).all()
