"""Per-group statistics and PCA on backed h5ad files, malformed sparse X, unsupported X."""

import random
import types

import anndata as ad
import h5py
import numpy as np
import pytest
import scipy.sparse as sp

import orvalen
from orvalen import deg, tolvar


@pytest.fixture
def small_blocks(monkeypatch):
    # A few rows per block, so blocks cut through samples.
    monkeypatch.setattr(orvalen.settings, "block_bytes", 64)


@pytest.mark.parametrize("form", ["csr", "csc", "dense"])
def test_backed_equals_in_memory(tmp_path, scale_adata, expression_results, same_results, small_blocks, form):
    a = scale_adata
    if form == "csc":
        a.X = sp.csc_matrix(a.X)
    elif form == "dense":
        a.X = a.X.toarray()
    path = tmp_path / f"{form}.h5ad"
    a.write_h5ad(path)
    backed = ad.read_h5ad(path, backed="r")
    same_results(expression_results(backed), expression_results(a))
    assert deg.get_gene_expression_mean(backed, nz_pct=False).dtypes.iloc[1] == np.float32


# Stored in many small chunks (h5py reads them straight into the buffer; the
# rest of a block's last chunk is kept for the next block), or compressed.
@pytest.mark.parametrize("fmt", ["csr", "csc"])
@pytest.mark.parametrize("block_bytes, chunks", [(64, (5, 13)), (2000, (5, 13)), (64, "gzip")])
def test_backed_chunked_file_equals_in_memory(
    tmp_path, scale_adata, expression_results, same_results, monkeypatch, fmt, block_bytes, chunks
):
    a = scale_adata
    a.X = sp.csr_matrix(a.X) if fmt == "csr" else sp.csc_matrix(a.X)
    path = tmp_path / "chunked.h5ad"
    a.write_h5ad(path)
    with h5py.File(path, "r+") as f:
        for name, c in zip(("data", "indices"), (7, 7) if chunks == "gzip" else chunks):
            values = f["X"][name][:]
            del f["X"][name]
            f["X"].create_dataset(name, data=values, chunks=(c,), compression="gzip" if chunks == "gzip" else None)
    monkeypatch.setattr(orvalen.settings, "block_bytes", block_bytes)
    same_results(expression_results(ad.read_h5ad(path, backed="r")), expression_results(a))


@pytest.mark.parametrize("fmt", ["csr", "csc"])
def test_pca_subsample_backed_same_draw(tmp_path, small_blocks, fmt):
    rng = np.random.default_rng(3)
    x = sp.random(300, 20, density=0.3, format=fmt, dtype=np.float64, random_state=rng)
    path = tmp_path / "pca.h5ad"
    ad.AnnData(x).write_h5ad(path)
    backed = ad.read_h5ad(path, backed="r").X
    for cap in (120, 500):
        random.seed(11), np.random.seed(5)  # the draw, and the randomized SVD
        want = tolvar.pca_subsample(x, 4, cap)
        random.seed(11), np.random.seed(5)
        got = tolvar.pca_subsample(backed, 4, cap)
        np.testing.assert_allclose(got, want, rtol=1e-9, atol=1e-12)


def malformed(fmt, bad):
    m = (
        sp.csr_matrix(np.arange(12, dtype=np.float32).reshape(4, 3))
        if fmt == "csr"
        else sp.csc_matrix(np.arange(12, dtype=np.float32).reshape(4, 3))
    )
    m.indices[2] = bad
    return m


@pytest.mark.parametrize("fmt", ["csr", "csc"])
@pytest.mark.parametrize("bad", [-1, 3, 10**6])
def test_malformed_sparse_x_raises(fmt, bad):
    m = malformed(fmt, bad)
    if fmt == "csc":
        m.indices[2] = -1 if bad < 0 else 4 + bad
    a = ad.AnnData(np.zeros((4, 3), np.float32), obs={"sample": list("abab"), "condition": list("xxyy")})
    a.X = m
    for call in (lambda: tolvar.get_gene_expression(a), lambda: deg.get_gene_expression_mean(a, nz_pct=False)):
        with pytest.raises(ValueError, match="malformed sparse X"):
            call()
    a.X = sp.csr_matrix((np.ones(2, np.float32), np.array([0, 1]), np.array([0, 2, 1, 2, 2])), shape=(4, 3))
    with pytest.raises(ValueError, match="malformed sparse X"):
        tolvar.get_gene_expression(a)


def lie_in(x, lie):
    """Corrupt the stored datasets of a written sparse X in place."""
    if lie == "indptr_decreases":
        x["indptr"][5] = x["indptr"][3] - 1
    elif lie == "narrow_shape":
        x.attrs["shape"] = (x.attrs["shape"][0], 6)
    elif lie == "wide_shape":
        x.attrs["shape"] = (x.attrs["shape"][0], 14)
    elif lie == "index_past_genes":
        x["indices"][0] = 11
    elif lie == "last_index_past_genes":  # in the last block only
        x["indices"][x["indices"].shape[0] - 1] = 99
    elif lie == "indptr_jump":
        x["indptr"][50] = 2**31 - 1
    else:  # indices shorter than data: h5py would clip the read
        short = x["indices"][:-1]
        del x["indices"]
        x["indices"] = short


# Checked before scipy or sklearn see a block (they trust a matrix's
# arrays), and before a pointer's claim is allocated; `pca`: PCA refuses it too.
@pytest.mark.parametrize(
    "fmt, lie, pca, match",
    [
        ("csc", "indptr_decreases", True, "malformed sparse X"),
        ("csr", "narrow_shape", True, None),  # var then disagrees with X first
        ("csr", "index_past_genes", True, "malformed sparse X"),
        ("csr", "short_indices", True, "malformed sparse X"),
        ("csc", "short_indices", True, "malformed sparse X"),
        ("csr", "last_index_past_genes", False, "out of range"),
        ("csr", "wide_shape", False, "14 columns but var has 11 genes"),
        ("csr", "indptr_jump", False, "malformed sparse X: indptr"),
    ],
)
def test_lying_backed_file_fails_pca_and_tallies_alike(tmp_path, scale_adata, small_blocks, fmt, lie, pca, match):
    a = scale_adata
    a.X.data = np.nan_to_num(a.X.data)  # sklearn refuses NaN before a later block shows the lie
    a.X = a.X.asformat(fmt)
    path = tmp_path / "lie.h5ad"
    a.write_h5ad(path)
    with h5py.File(path, "r+") as f:
        lie_in(f["X"], lie)
    backed = ad.read_h5ad(path, backed="r")
    for cap in (40, 500) if pca else ():
        with pytest.raises(ValueError, match="malformed sparse X"):
            tolvar.pca_subsample(backed.X, 2, cap)
    if match:
        with pytest.raises(ValueError, match=match):
            tolvar.get_gene_expression(backed)


def test_x_that_cannot_be_read_says_why(tmp_path, scale_adata):
    path = tmp_path / "enc.h5ad"
    scale_adata.write_h5ad(path)
    with h5py.File(path, "r+") as f:
        f["X"].attrs["encoding-type"] = "mystery_matrix"
    backed = ad.read_h5ad(path, backed="r")
    try:
        hidden = backed.X is None
    except Exception:
        hidden = False
    if hidden:
        pytest.skip("this anndata reads an unknown encoding as no X")
    for name, call in (
        ("get_gene_expression", tolvar.get_gene_expression),
        ("get_gene_expression_mean", deg.get_gene_expression_mean),
    ):
        with pytest.raises(ValueError, match=f"{name}: reading adata.X failed: .*mystery") as caught:
            call(backed)
        assert caught.value.__cause__ is not None


def test_unsupported_x_type_is_named(scale_adata):
    class LazyMatrix:
        shape = (97, 11)

    # anndata itself refuses such an X, so a stand-in carries it.
    a = types.SimpleNamespace(obs=scale_adata.obs, var=scale_adata.var, X=LazyMatrix())
    with pytest.raises(TypeError, match=r"LazyMatrix.*numpy array.*dask array"):
        tolvar.get_gene_expression(a)


@pytest.mark.parametrize("value, error", [(2**70, ValueError), (0, ValueError), ("32M", TypeError), (1.5, TypeError)])
def test_block_bytes_checked_when_set(value, error):
    with pytest.raises(error, match="block_bytes"):
        orvalen.settings.block_bytes = value
    assert orvalen.settings.block_bytes == 32 * 2**20


# Counted in cells (CSR, dense) or genes (CSC, read by columns), by tqdm or the text bar.
@pytest.mark.parametrize("bar", ["tqdm", "text"])
@pytest.mark.parametrize(
    "form, call, label, n, unit",
    [
        ("csr", tolvar.get_gene_expression, "get_gene_expression", "97/97", "cells"),
        ("dense", tolvar.get_gene_expression, "get_gene_expression", "97/97", "cells"),
        ("csc", tolvar.get_gene_expression, "get_gene_expression", "11/11", "genes"),
        ("csr", lambda a: tolvar.pca_subsample(a.X, 2, 40), "pca_subsample", None, "cells"),
    ],
)
def test_progress_bar_only_when_asked(
    tmp_path, scale_adata, small_blocks, monkeypatch, capsys, form, call, label, n, unit, bar
):
    import importlib.util

    if bar == "text":
        find_spec = importlib.util.find_spec
        monkeypatch.setattr(
            importlib.util, "find_spec", lambda name, *a: None if name == "tqdm" else find_spec(name, *a)
        )
    path = tmp_path / "p.h5ad"
    scale_adata.X.data = np.nan_to_num(scale_adata.X.data)  # sklearn refuses NaN
    if form == "csc":
        scale_adata.X = sp.csc_matrix(scale_adata.X)
    elif form == "dense":
        scale_adata.X = scale_adata.X.toarray()
    scale_adata.write_h5ad(path)
    backed = ad.read_h5ad(path, backed="r")
    call(backed)
    assert capsys.readouterr().out == ""
    monkeypatch.setattr(orvalen.settings, "progress", True)
    call(backed)
    out = capsys.readouterr().out
    assert "100%" in out and f"{label} (backed)" in out
    if n is not None:
        want = [f"({n} {unit})"] if bar == "text" else [f"{n} [", f" {unit}/s]"]
        assert all(w in out for w in want), out


def test_progress_setting_must_be_a_bool_and_settings_show_their_values(monkeypatch):
    monkeypatch.setattr(orvalen.settings, "progress", True)
    for value in ("False", 1, None):
        with pytest.raises(TypeError, match=r"orvalen\.settings\.progress must be a bool"):
            orvalen.settings.progress = value
    monkeypatch.setattr(orvalen.settings, "block_bytes", 4096)
    assert repr(orvalen.settings) == "Settings(block_bytes=4096, progress=True)"


class RaisingOut:
    def write(self, text):
        raise OSError("display gone")

    def flush(self):
        pass


def closed_out():
    import io

    out = io.StringIO()
    out.close()
    return out


# A bar that cannot draw is turned off with one warning; the table is kept.
@pytest.mark.parametrize("out", [RaisingOut, closed_out])
def test_failing_display_keeps_the_result(tmp_path, scale_adata, small_blocks, monkeypatch, out):
    import sys
    import warnings

    path = tmp_path / "p.h5ad"
    scale_adata.write_h5ad(path)
    backed = ad.read_h5ad(path, backed="r")
    want = tolvar.get_gene_expression(backed)
    monkeypatch.setattr(orvalen.settings, "progress", True)
    monkeypatch.setattr(sys, "stdout", out())
    with warnings.catch_warnings(record=True) as caught:
        warnings.simplefilter("always")
        got = tolvar.get_gene_expression(backed)
    assert [str(w.message).split(" failed")[0] for w in caught] == [
        "the progress display of get_gene_expression (backed)"
    ]
    assert got.equals(want)
