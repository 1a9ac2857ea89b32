"""Per-group expression from AnnData.X: detection fractions and means."""

import anndata as ad
import numpy as np
import pandas as pd
import pytest
import scipy.sparse as sp

from orvalen import deg, tolvar
from tests.reference.expression import ref_expression_mean, ref_gene_expression


def make_adata(seed=0, n_cells=240, n_genes=25):
    rng = np.random.default_rng(seed)
    x = rng.gamma(1.0, 2.0, (n_cells, n_genes)).astype(np.float32)
    x[rng.random(x.shape) < 0.7] = 0
    samples = rng.choice(["s3", "s10", "s1", "s2", "s7"], n_cells)
    cond = pd.Series(samples).map({"s3": "ctl", "s10": "trt", "s1": "ctl", "s2": "trt", "s7": "ctl"})
    obs = pd.DataFrame(
        {"sample": samples, "condition": cond.to_numpy(), "cluster": rng.choice(["a", "b"], n_cells)},
        index=[f"cell{i}" for i in range(n_cells)],
    )
    var = pd.DataFrame(index=[f"G{j}" for j in range(n_genes)])
    return ad.AnnData(X=x, obs=obs, var=var)


def matrix_forms(x):
    """The layouts adata.X comes in, all holding the same values."""
    with_nan = x.astype(np.float64)
    with_nan[::17, 3] = np.nan
    with_nan[5, :] = np.nan
    return {
        "dense_f32": x,
        "dense_f64_nan": with_nan,
        "fortran_f64": np.asfortranarray(with_nan),
        "int32": np.rint(x * 3).astype(np.int32),
        "uint8": np.rint(x).astype(np.uint8),
        "csr_f32": sp.csr_matrix(x),
        "csc_f64_nan": sp.csc_matrix(with_nan),
        "csr_int64_idx": sp.csr_matrix(
            (x[x != 0], np.nonzero(x)[1].astype(np.int64), np.r_[0, np.cumsum((x != 0).sum(1))].astype(np.int64)),
            shape=x.shape,
        ),
    }


@pytest.fixture(scope="module")
def adata():
    return make_adata()


@pytest.mark.filterwarnings("ignore:get_gene_expression_mean. no gene is detected:UserWarning")
@pytest.mark.parametrize("form", list(matrix_forms(make_adata().X)))
def test_fractions_and_means_match_dense_rendering(adata, form):
    a = adata.copy()
    a.X = matrix_forms(adata.X)[form]
    pd.testing.assert_frame_equal(tolvar.get_gene_expression(a), ref_gene_expression(a))
    genes = ["G7", "G2", "G20"]
    pd.testing.assert_frame_equal(
        tolvar.get_gene_expression(a, genes, "cluster"), ref_gene_expression(a, genes, "cluster")
    )
    for kw in [{}, {"genes": genes, "min_nz_pct": 0.31}, {"group_col": "cluster", "min_nz_pct": 0.3}]:
        pd.testing.assert_frame_equal(deg.get_gene_expression_mean(a, **kw), ref_expression_mean(a, **kw))
    got = deg.get_gene_expression_mean(a, nz_pct=False)
    want = ref_expression_mean(a, nz_pct=False)
    tol = 1e-6 if want.dtypes.iloc[1] == np.float32 else 1e-12
    pd.testing.assert_frame_equal(got, want, rtol=tol, check_exact=False)
    got = deg.get_gene_expression_mean(a, genes[::-1], nz_pct=False)
    pd.testing.assert_frame_equal(got, ref_expression_mean(a, genes[::-1], nz_pct=False), rtol=tol, check_exact=False)


@pytest.mark.filterwarnings("ignore:get_gene_expression_mean. no gene is detected:UserWarning")
def test_detection_threshold_is_inclusive_and_exact():
    # 5 cells per sample; g_edge is detected in 1 of 5 cells (0.2) in every
    # ctl sample, g_low in 1 of 10 cells overall, g_ctl in 3 of 5 of ctl only.
    samples = np.repeat(["a", "b", "c", "d"], 5)
    cond = np.repeat(["ctl", "ctl", "trt", "trt"], 5)
    x = np.zeros((20, 3), dtype=np.float32)
    x[[0, 5], 0] = 1.0
    x[[0, 10], 1] = 2.0
    x[[1, 2, 3, 6, 7, 8], 2] = -1.0  # negative values are not detected
    x[[1, 2, 3, 6, 7, 8], 2] += 4.0
    a = ad.AnnData(
        X=sp.csr_matrix(x),
        obs=pd.DataFrame({"sample": samples, "condition": cond}, index=[f"c{i}" for i in range(len(samples))]),
        var=pd.DataFrame(index=["g_edge", "g_low", "g_ctl"]),
    )
    got = deg.get_gene_expression_mean(a)
    assert list(got.columns) == ["Group", "g_edge", "g_ctl"]
    assert got["Group"].tolist() == ["ctl", "ctl", "trt", "trt"]
    assert got.index.name is None
    assert deg.get_gene_expression_mean(a, min_nz_pct=1.5).columns.tolist() == ["Group"]
    means = deg.get_gene_expression_mean(a, nz_pct=False)
    assert means.index.name == "Group"
    assert means.loc["a", "g_ctl"] == pytest.approx(9.0 / 5)


def test_gene_lists_and_group_labels(adata):
    assert tolvar.get_gene_expression(adata, None).equals(tolvar.get_gene_expression(adata, []))
    assert deg.get_gene_expression_mean(adata, None).equals(deg.get_gene_expression_mean(adata))
    # Repeated genes give repeated columns, as slicing by name would.
    got = tolvar.get_gene_expression(adata, ["G1", "G0", "G1"])
    assert got.columns.tolist() == ["G1", "G0", "G1"]
    assert got.iloc[:, 0].equals(got.iloc[:, 2])
    # Categorical labels: rows are the observed labels in ascending order.
    a = adata.copy()
    a.obs["sample"] = pd.Categorical(a.obs["sample"], categories=["s7", "s2", "s10", "s3", "s1", "unused"])
    got = tolvar.get_gene_expression(a)
    assert got.index.tolist() == ["s1", "s10", "s2", "s3", "s7"]
    pd.testing.assert_frame_equal(got, tolvar.get_gene_expression(adata))
    # Numeric labels sort numerically.
    a.obs["num"] = np.where(a.obs["cluster"] == "a", 10, 2)
    assert tolvar.get_gene_expression(a, group_col="num").index.tolist() == [2, 10]


def test_bad_input_names_the_culprit(adata):
    with pytest.raises(KeyError, match="G_missing"):
        tolvar.get_gene_expression(adata, ["G1", "G_missing"])
    with pytest.raises(KeyError, match="G_missing"):
        deg.get_gene_expression_mean(adata, ["G_missing"])
    with pytest.raises(KeyError, match="batch"):
        tolvar.get_gene_expression(adata, group_col="batch")
    a = adata.copy()
    del a.obs["condition"]
    with pytest.raises(KeyError, match="condition"):
        deg.get_gene_expression_mean(a)


def test_first_cell_condition_labels_a_mixed_sample():
    obs = pd.DataFrame({"sample": ["s2", "s1", "s1", "s2"], "condition": ["B", "A", "B", "A"]}, index=list("abcd"))
    a = ad.AnnData(X=np.ones((4, 2), dtype=np.float32), obs=obs, var=pd.DataFrame(index=["x", "y"]))
    assert deg.get_gene_expression_mean(a)["Group"].tolist() == ["A", "B"]


def test_condition_column_with_many_groups_and_a_partial_map(monkeypatch):
    # One lookup per group: labels the map lacks stay as they are, as a replace would leave them.
    n = 6000
    samples = np.array([f"s{k:05d}" for k in range(n)])
    obs = pd.DataFrame(
        {"sample": samples[::-1], "condition": np.where(np.arange(n) % 3, "ctl", "trt")[::-1]},
        index=[f"c{k}" for k in range(n)],
    )
    a = ad.AnnData(X=sp.csr_matrix(np.ones((n, 1), np.float32)), obs=obs, var=pd.DataFrame(index=["g"]))
    got = deg.get_gene_expression_mean(a, nz_pct=False)
    assert got["Group"].tolist() == np.where(np.arange(n) % 3, "ctl", "trt").tolist()
    monkeypatch.setattr(deg, "get_sample_to_group_map", lambda s, c: {"s00001": 7})
    assert deg.get_gene_expression_mean(a, nz_pct=False)["Group"].tolist()[:3] == ["s00000", 7, "s00002"]


def test_filter_removing_every_gene_warns_and_prints_nothing(adata, capsys):
    with pytest.warns(UserWarning, match="min_nz_pct"):
        got = deg.get_gene_expression_mean(adata, min_nz_pct=1.01)
    assert got.columns.tolist() == ["Group"]
    assert capsys.readouterr().out == ""


def test_indices_edited_by_another_thread_never_write_outside_the_table():
    import threading

    x = sp.random(20_000, 200, density=0.2, format="csr", random_state=1, dtype=np.float32)
    obs = pd.DataFrame({"sample": (np.arange(20_000) % 50).astype(str)}, index=np.arange(20_000).astype(str))
    a = ad.AnnData(x, obs=obs)
    want = tolvar.get_gene_expression(a)
    good = x.indices[-1000:].copy()
    stop = threading.Event()

    def flip():
        while not stop.is_set():
            x.indices[-1000:] = 10**9
            x.indices[-1000:] = good

    flipper = threading.Thread(target=flip, daemon=True)
    flipper.start()
    try:
        for _ in range(40):
            try:
                tolvar.get_gene_expression(a)
            except ValueError as e:
                assert "malformed sparse X" in str(e)
    finally:
        stop.set()
        flipper.join()
    pd.testing.assert_frame_equal(tolvar.get_gene_expression(a), want)


EXIT_DURING_TALLY = """
import sys, threading, time
import anndata as ad, numpy as np, pandas as pd, scipy.sparse as sp
from orvalen import deg, tolvar
n, k = 100_000, 100
cols = np.tile(np.arange(k, dtype=np.int32) * 4, n)
x = sp.csr_matrix((np.ones(n * k, np.float32), cols, np.arange(0, n * k + 1, k)))
a = ad.AnnData(x, obs=pd.DataFrame({"sample": pd.Categorical(np.arange(n) % 7)}, index=np.arange(n).astype(str)))
busy = threading.Event()
def tally():
    while True:
        busy.set()
        CALL
threading.Thread(target=tally, daemon=True).start()
busy.wait()
time.sleep(0.05)
sys.exit(3)
"""


# A daemon thread still tallying (mostly inside a kernel) when the script ends.
@pytest.mark.parametrize("call", ["tolvar.get_gene_expression(a, None)", "deg.get_gene_expression_mean(a, None)"])
def test_exit_while_a_daemon_thread_tallies_keeps_the_exit_status(call):
    import subprocess
    import sys

    script = EXIT_DURING_TALLY.replace("CALL", call)
    proc = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=300)
    assert proc.returncode == 3, proc.stderr


# Views with a step or a negative stride are read as they are, not as if contiguous.
@pytest.mark.parametrize("array", ["data", "indices"])
def test_strided_sparse_arrays_give_exact_tables(array):
    x = sp.csr_matrix((np.ones(2), [0, 1], [0, 1, 2]), shape=(2, 2))
    if array == "data":
        x.data = np.array([1.0, -1.0, 1.0, -1.0])[::2]
    else:
        x.indices = np.array([1, 0], dtype=np.int32)[::-1]
    a = ad.AnnData(x, obs=pd.DataFrame({"sample": ["a", "b"], "condition": ["x", "y"]}, index=["0", "1"]))
    want = pd.DataFrame(np.eye(2), index=["a", "b"], columns=["0", "1"])
    pd.testing.assert_frame_equal(tolvar.get_gene_expression(a), want)
    means = deg.get_gene_expression_mean(a, nz_pct=False)
    np.testing.assert_array_equal(means[["0", "1"]].to_numpy(), np.eye(2))
